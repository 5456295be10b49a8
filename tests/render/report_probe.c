/* Prints tevrender's report on standard output and every log call on
 * standard error as "LOG <level> <message> @<procedure>"; exits with the
 * result of device_get_report (0 for 1, 1 for 0). Written in C against the
 * public header. */
#include <stdio.h>

#include "tevrender.h"

static void OnLog(int32_t level, const Log_Message* m, void* user_data) {
  int* calls = (int*)user_data;
  ++*calls;
  fprintf(stderr, "LOG %d %.*s @%.*s\n", level, (int)m->message_length, m->message, (int)m->procedure_length,
          m->procedure);
}

int main(void) {
  int calls = 0;
  Device_Context* context = 0;
  if (!device_create(OnLog, &calls, &context)) return 2;
  char* text = 0;
  int32_t length = 0;
  const bool ok = device_get_report(context, &text, &length);
  if (ok) fwrite(text, 1, (size_t)length, stdout);
  device_free_report(context, text);
  device_free_report(context, 0);
  device_destroy(context);
  return ok ? 0 : 1;
}
