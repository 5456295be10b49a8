// TEV_Initialize, TEV_Shutdown and the four file dialogs.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "file_chooser.h"
#include "tevnative.h"
#include "utf16.h"

namespace {

using tev::dialogs::Kind;
using tev::dialogs::Result;

// What a TEV_PathSet's `items` points at: the chosen paths as the dialog gave them.
struct ItemSet {
  std::vector<std::string> paths;
};

std::string Utf8(const TEV_Char* text) { return text ? tev::Utf16ToUtf8(text) : std::string(); }

// A UTF-16 copy from the library heap (released with TEV_Free), or null.
TEV_Char* HeapCopy(const std::string& utf8) {
  const std::u16string wide = tev::Utf8ToUtf16(utf8);
  auto* copy = static_cast<TEV_Char*>(std::malloc((wide.size() + 1) * sizeof(TEV_Char)));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(TEV_Char));
  return copy;
}

tev::dialogs::Request MakeRequest(Kind kind, const TEV_FilterItem* filters, uint32_t count, const TEV_Char* path) {
  tev::dialogs::Request request;
  request.kind = kind;
  for (uint32_t i = 0; filters != nullptr && i < count; ++i) {
    tev::dialogs::Filter filter{Utf8(filters[i].name), {}};
    const std::string spec = Utf8(filters[i].spec);
    for (std::size_t start = 0; start <= spec.size();) {
      const std::size_t comma = std::min(spec.find(',', start), spec.size());
      if (comma > start) filter.extensions.push_back(spec.substr(start, comma - start));
      start = comma + 1;
    }
    request.filters.push_back(std::move(filter));
  }
  request.default_path = Utf8(path);
  return request;
}

// Runs a single-path dialog and hands its path over on Okay only.
TEV_DialogResult SinglePath(const tev::dialogs::Request& request, TEV_Char** out_path) {
  if (out_path == nullptr) return TEV_DIALOG_ERROR;
  std::vector<std::string> paths;
  const Result result = tev::dialogs::Run(request, paths);
  if (result != Result::Okay) return static_cast<TEV_DialogResult>(result);
  TEV_Char* copy = HeapCopy(paths.front());
  if (copy == nullptr) return TEV_DIALOG_ERROR;
  *out_path = copy;
  return TEV_DIALOG_OKAY;
}

template <typename Body>
TEV_DialogResult Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return TEV_DIALOG_ERROR;
  }
}

}  // namespace

extern "C" {

TEVNATIVE_API int32_t TEV_Initialize(void) {
  try {
    return tev::dialogs::Initialize() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

TEVNATIVE_API void TEV_Shutdown(void) { tev::dialogs::Shutdown(); }

TEVNATIVE_API TEV_DialogResult TEV_OpenFileDialog(TEV_Char** out_path, const TEV_FilterItem* filters,
                                                  uint32_t filter_count, const TEV_Char* default_path) {
  return Guarded([&] { return SinglePath(MakeRequest(Kind::Open, filters, filter_count, default_path), out_path); });
}

TEVNATIVE_API TEV_DialogResult TEV_SaveFileDialog(TEV_Char** out_path, const TEV_FilterItem* filters,
                                                  uint32_t filter_count, const TEV_Char* default_path,
                                                  const TEV_Char* default_name) {
  return Guarded([&] {
    auto request = MakeRequest(Kind::Save, filters, filter_count, default_path);
    request.default_name = Utf8(default_name);
    return SinglePath(request, out_path);
  });
}

TEVNATIVE_API TEV_DialogResult TEV_PickFolder(TEV_Char** out_path, const TEV_Char* default_path) {
  return Guarded([&] { return SinglePath(MakeRequest(Kind::Folder, nullptr, 0, default_path), out_path); });
}

TEVNATIVE_API TEV_DialogResult TEV_OpenFileDialogMultiple(TEV_PathSet* out_set, const TEV_FilterItem* filters,
                                                          uint32_t filter_count, const TEV_Char* default_path) {
  return Guarded([&]() -> TEV_DialogResult {
    if (out_set == nullptr) return TEV_DIALOG_ERROR;
    auto items = std::make_unique<ItemSet>();
    const Result result =
        tev::dialogs::Run(MakeRequest(Kind::OpenMultiple, filters, filter_count, default_path), items->paths);
    if (result != Result::Okay) return static_cast<TEV_DialogResult>(result);
    auto** array = static_cast<TEV_Char**>(std::malloc(items->paths.size() * sizeof(TEV_Char*)));
    if (array == nullptr) return TEV_DIALOG_ERROR;
    uint64_t count = 0;
    for (const std::string& path : items->paths) {
      if (TEV_Char* copy = HeapCopy(path)) array[count++] = copy;  // a path that cannot be had is skipped
    }
    out_set->count = count;
    out_set->paths = array;
    out_set->items = items.release();
    return TEV_DIALOG_OKAY;
  });
}

TEVNATIVE_API void TEV_FreePathSet(TEV_PathSet* set) {
  if (set == nullptr) return;
  if (set->paths != nullptr) {
    for (uint64_t i = 0; i < set->count; ++i) std::free(set->paths[i]);
    std::free(set->paths);
  }
  delete static_cast<ItemSet*>(set->items);
}

}  // extern "C"
