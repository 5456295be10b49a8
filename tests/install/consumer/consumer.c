/* A small application built against an installed prefix: it shoots a page
 * through TEVBrowser, decodes an image with tevnative and prints tevrender's
 * device report. Arguments: browser_process path, image path. */
#define _POSIX_C_SOURCE 199309L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <TEVBrowser.h>
#include <tevnative.h>
#include <tevrender.h>

static int page_loaded = 0;
static void on_event(int32_t handle, int32_t code, const char* data) {
  (void)handle;
  (void)data;
  if (code == LoadEnded) page_loaded = 1;
}

static int shoot_page(const char* program) {
  if (!TEVBrowser_Initialize(program, "", "", "", "", "", NULL, "", false)) return 0;
  const int32_t browser =
      TEVBrowser_CreateBrowser("data:text/html,<body style='margin:0;background:rgb(0,0,255)'></body>");
  TEVBrowser_SetSize(browser, 64, 48, 1.0f);
  int blue = 0;
  const time_t give_up = time(NULL) + 60;
  while (!blue && time(NULL) < give_up) {
    TEVBrowser_ProcessEvents(NULL, on_event, NULL);
    bool updated = false;
    int32_t width = 0, height = 0, cursor = 0;
    void* pixels = NULL;
    if (page_loaded && TEVBrowser_Render(browser, &updated, &width, &height, &pixels, &cursor) && width == 64) {
      const unsigned char* centre = (const unsigned char*)pixels + ((size_t)(height / 2) * width + width / 2) * 4;
      blue = centre[0] == 255 && centre[1] == 0 && centre[2] == 0; /* BGRA */
    }
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, NULL);
  }
  TEVBrowser_Shutdown();
  printf("page %s\n", blue ? "blue" : "not shown");
  return blue;
}

static int decode_image(const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return 0;
  static unsigned char bytes[1 << 20];
  const size_t size = fread(bytes, 1, sizeof bytes, file);
  fclose(file);
  TEV_Image image;
  if (!TEV_LoadImage(bytes, size, &image)) return 0;
  printf("image %dx%d\n", image.width, image.height);
  TEV_Free(image.pixels);
  return 1;
}

static int print_report(void) {
  Device_Context* context = NULL;
  if (!device_create(NULL, NULL, &context)) return 0;
  char* text = NULL;
  int32_t length = 0;
  const int ok = device_get_report(context, &text, &length) && length > 0 && text[0] == '{';
  if (ok) printf("report %.*s\n", (int)length, text);
  device_free_report(context, text);
  device_destroy(context);
  return ok;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: consumer BROWSER_PROCESS IMAGE\n");
    return 2;
  }
  const int report = print_report();
  const int image = decode_image(argv[2]);
  const int page = shoot_page(argv[1]);
  return report && image && page ? 0 : 1;
}
