// The four exports of libtevrender.so.
#include <new>

#include "device_report.h"
#include "tevrender.h"

struct Device_Context {
  render::HeapAllocator heap;
  render::RuntimeContext runtime;
};

extern "C" {

TEVRENDER_API bool device_create(Log_Callback callback, void* user_data, Device_Context** out_context) {
  auto* context = new (std::nothrow) Device_Context{{}, {nullptr, render::Logger(callback, user_data)}};
  if (context == nullptr) return false;
  context->runtime.heap = &context->heap;
  *out_context = context;
  return true;
}

TEVRENDER_API void device_destroy(Device_Context* context) { delete context; }

TEVRENDER_API bool device_get_report(Device_Context* context, char** out_text, int32_t* out_length) {
  if (context == nullptr || out_text == nullptr || out_length == nullptr) return false;
  try {
    return render::GetDeviceReport(context->runtime, out_text, out_length);
  } catch (...) {
    return false;
  }
}

TEVRENDER_API void device_free_report(Device_Context* context, char* text) {
  if (context != nullptr && text != nullptr) context->runtime.heap->Free(text);
}

}  // extern "C"
