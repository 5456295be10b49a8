// TEV_CreateProcess and the calls on its record.
#include <memory>

#include "child_process.h"
#include "tevnative.h"
#include "utf16.h"

struct TEV_ProcessRecord {
  std::unique_ptr<tev::ChildProcess> child;
  std::shared_ptr<tev::CaptureBuffers> buffers;
};

namespace {

std::u16string_view View(const char16_t* text) { return text ? std::u16string_view(text) : std::u16string_view(); }

}  // namespace

extern "C" {

TEVNATIVE_API TEV_ProcessRecord* TEV_CreateProcess(const TEV_Char* const* arguments, uint64_t count,
                                                   const TEV_Char* working_directory, TEV_ProcessFlags flags) {
  if (arguments == nullptr || working_directory == nullptr) return nullptr;
  try {
    tev::ChildOptions options;
    for (uint64_t i = 0; i < count; ++i) options.arguments.push_back(tev::Utf16ToUtf8(View(arguments[i])));
    options.working_directory = tev::Utf16ToUtf8(View(working_directory));
    options.capture_stdout = (flags & TEV_CAPTURE_STDOUT) != 0;
    options.capture_stderr = (flags & TEV_CAPTURE_STDERR) != 0;
    options.open_stdin = (flags & TEV_OPEN_STDIN) != 0;
    auto record = std::make_unique<TEV_ProcessRecord>();
    record->buffers = std::make_shared<tev::CaptureBuffers>();
    record->child = std::make_unique<tev::ChildProcess>(options, record->buffers);
    return record.release();
  } catch (...) {
    return nullptr;
  }
}

TEVNATIVE_API char* TEV_ReadProcessStdout(TEV_ProcessRecord* record) {
  return record ? record->buffers->out.CopyWithTerminator() : nullptr;
}

TEVNATIVE_API char* TEV_ReadProcessStderr(TEV_ProcessRecord* record) {
  return record ? record->buffers->err.CopyWithTerminator() : nullptr;
}

TEVNATIVE_API int32_t TEV_WaitForProcess(TEV_ProcessRecord* record) {
  if (record == nullptr) return -1;
  try {
    return record->child->Wait();
  } catch (...) {
    return -1;
  }
}

TEVNATIVE_API void TEV_FreeProcess(TEV_ProcessRecord* record) {
  try {
    delete record;
  } catch (...) {
  }
}

}  // extern "C"
