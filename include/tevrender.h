/* tevrender: a JSON report of the machine's Vulkan implementation and devices.
 *
 *   Device_Context* context;
 *   device_create(my_log, my_data, &context);
 *   char* text; int32_t length;
 *   if (device_get_report(context, &text, &length)) { ...; device_free_report(context, text); }
 *   device_destroy(context);
 *
 * The Vulkan loader (libvulkan.so.1 here) is loaded for each report. When it
 * cannot be loaded the report's "error" reads "Failed to load vulkan library: "
 * followed by the system loader's own message (dlerror()). Reports must not
 * be requested from several threads at once, not even on different contexts. */
#ifndef TEVRENDER_H
#define TEVRENDER_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#define TEVRENDER_API __declspec(dllexport)
#else
#define TEVRENDER_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Levels handed to the log callback. */
enum { LOG_LEVEL_INFO = 0, LOG_LEVEL_WARNING = 1, LOG_LEVEL_ERROR = 2 };

/* Valid only during the callback; texts are not NUL-terminated. */
typedef struct Log_Message {
  const char* message;
  int32_t message_length;
  const char* file;
  int32_t file_length;
  const char* procedure;
  int32_t procedure_length;
  int32_t line;
  int32_t column;
} Log_Message;

typedef void (*Log_Callback)(int32_t level, const Log_Message* message, void* user_data);

typedef struct Device_Context Device_Context;

/* 1 with a new context in *out_context, 0 when memory ran out. */
TEVRENDER_API bool device_create(Log_Callback callback, void* user_data, Device_Context** out_context);
TEVRENDER_API void device_destroy(Device_Context* context);
/* 1 with the UTF-8 JSON text (not NUL-terminated) and its length; also when
 * Vulkan is missing or fails, which the text's "error" says. 0 with nothing
 * stored when the report could not be built or written. */
TEVRENDER_API bool device_get_report(Device_Context* context, char** out_text, int32_t* out_length);
/* Releases a text from the same context; NULL is ignored. */
TEVRENDER_API void device_free_report(Device_Context* context, char* text);

#ifdef __cplusplus
}
#endif

#endif /* TEVRENDER_H */
