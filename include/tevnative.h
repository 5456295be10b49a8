/* tevnative: child processes with captured output, native file dialogs,
 * image decoding into RGBA, and the xxHash API.
 *
 * Paths, arguments and dialog filters are NUL-terminated UTF-16 (char16_t
 * units). Every buffer the library returns comes from its heap and is
 * released with TEV_Free, except where a function says otherwise. */
#ifndef TEVNATIVE_H
#define TEVNATIVE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#include <cstdint>
typedef char16_t TEV_Char;
#else
#include <uchar.h>
typedef char16_t TEV_Char;
#endif

#if defined(_WIN32)
#define TEVNATIVE_API __declspec(dllexport)
#else
#define TEVNATIVE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- lifecycle and memory ------------------------------------------------ */

/* Prepares the file dialogs on the calling thread: 1 on success, 0 where no
 * display can be opened. Calls are counted; TEV_Shutdown undoes one. */
TEVNATIVE_API int32_t TEV_Initialize(void);
TEVNATIVE_API void TEV_Shutdown(void);

TEVNATIVE_API void* TEV_Malloc(uint64_t size);
TEVNATIVE_API void TEV_Free(void* pointer);

/* The running program's full path, released with TEV_Free; NULL on failure. */
TEVNATIVE_API TEV_Char* TEV_GetExecutablePath(void);

/* ---- child processes ----------------------------------------------------- */

typedef uint32_t TEV_ProcessFlags;
enum {
  TEV_CAPTURE_STDOUT = 1u << 0,
  TEV_CAPTURE_STDERR = 1u << 1,
  TEV_OPEN_STDIN = 1u << 2, /* held open by the library, closed by the wait */
  TEV_NO_WINDOW = 1u << 3   /* no effect where programs have no console window */
};

typedef struct TEV_ProcessRecord TEV_ProcessRecord;

/* arguments[0] is the program, looked up on PATH; the others are its
 * arguments, passed as they are (no quoting). An empty working directory is
 * the caller's. NULL only when `arguments` or `working_directory` is NULL; a
 * child that could not start gives a record whose wait returns -1. */
TEVNATIVE_API TEV_ProcessRecord* TEV_CreateProcess(const TEV_Char* const* arguments, uint64_t count,
                                                   const TEV_Char* working_directory, TEV_ProcessFlags flags);
/* Everything captured so far plus one NUL byte; released with TEV_Free. */
TEVNATIVE_API char* TEV_ReadProcessStdout(TEV_ProcessRecord* record);
TEVNATIVE_API char* TEV_ReadProcessStderr(TEV_ProcessRecord* record);
/* The exit status; -signal for a child ended by a signal; -1 when it never
 * started. A second call returns the same value at once. */
TEVNATIVE_API int32_t TEV_WaitForProcess(TEV_ProcessRecord* record);
/* Releases the record without waiting for, or ending, a child that still runs. */
TEVNATIVE_API void TEV_FreeProcess(TEV_ProcessRecord* record);

/* ---- file dialogs -------------------------------------------------------- */

typedef int32_t TEV_DialogResult;
enum { TEV_DIALOG_ERROR = 0, TEV_DIALOG_OKAY = 1, TEV_DIALOG_CANCEL = 2 };

typedef struct TEV_FilterItem {
  const TEV_Char* name; /* display name */
  const TEV_Char* spec; /* extensions without dots, comma-separated: "png,jpg" */
} TEV_FilterItem;

typedef struct TEV_PathSet {
  uint64_t count;
  TEV_Char** paths;
  void* items;
} TEV_PathSet;

/* The dialogs run modally on the calling thread, after a successful
 * TEV_Initialize there; without one they return TEV_DIALOG_ERROR. Outputs are
 * written only with TEV_DIALOG_OKAY. Single paths come from the library heap
 * and are released with TEV_Free; a TEV_PathSet's paths, its array and its
 * items are released together by TEV_FreePathSet (the record itself is the
 * caller's). Filters are offered in the caller's order, then "All files"; the
 * save dialog appends the first filter's first extension to a typed name
 * without one. A default path that does not exist is ignored. */
TEVNATIVE_API TEV_DialogResult TEV_OpenFileDialog(TEV_Char** out_path, const TEV_FilterItem* filters,
                                                  uint32_t filter_count, const TEV_Char* default_path);
TEVNATIVE_API TEV_DialogResult TEV_OpenFileDialogMultiple(TEV_PathSet* out_set, const TEV_FilterItem* filters,
                                                          uint32_t filter_count, const TEV_Char* default_path);
TEVNATIVE_API TEV_DialogResult TEV_SaveFileDialog(TEV_Char** out_path, const TEV_FilterItem* filters,
                                                  uint32_t filter_count, const TEV_Char* default_path,
                                                  const TEV_Char* default_name);
TEVNATIVE_API TEV_DialogResult TEV_PickFolder(TEV_Char** out_path, const TEV_Char* default_path);
TEVNATIVE_API void TEV_FreePathSet(TEV_PathSet* set);

/* ---- images -------------------------------------------------------------- */

typedef uint8_t TEV_PixelFormat;
enum { TEV_PIXELS_RGBA8 = 0, TEV_PIXELS_RGBA32F = 1 };

typedef struct TEV_Image {
  int32_t width;
  int32_t height;
  void* pixels; /* released with TEV_Free */
  TEV_PixelFormat format;
} TEV_Image;

/* Decodes PNG, JPEG, TIFF, OpenEXR or Radiance bytes: 1 on success, 0 with
 * `out` untouched otherwise. */
TEVNATIVE_API uint8_t TEV_LoadImage(const void* data, uint64_t size, TEV_Image* out);

#ifdef __cplusplus
}
#endif

/* The xxHash API (XXH32, XXH64, XXH3, XXH128 ...) is exported under its own
 * names; declare it with the system's <xxhash.h>. */

#endif /* TEVNATIVE_H */
