// Loaded by the engine into every web process: gives every frame the
// page-to-host function _tev_event(code, text) and forwards its console
// lines, both as user messages to the view.
#include <webkit2/webkit-web-extension.h>

namespace {

void SendToView(WebKitWebPage* page, const char* name, GVariant* parameters) {
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(name, parameters), nullptr, nullptr, nullptr);
}

WebKitWebPage* PageOf(gpointer page_id) {
  return webkit_web_extension_get_page(
      WEBKIT_WEB_EXTENSION(g_object_get_data(G_OBJECT(webkit_script_world_get_default()), "tev-extension")),
      GPOINTER_TO_UINT(page_id));
}

// The engine no longer reports console output to extensions, so each
// frame's console methods are wrapped: they pass the text, the calling
// script's URL and line to `send`, a native function that only the wrapper
// holds, and then do what they did before.
constexpr const char* kConsoleWrapper = R"js(
(function (send) {
  for (const level of ['log', 'info', 'warn', 'error', 'debug']) {
    const original = console[level];
    console[level] = function (...args) {
      const caller = (new Error().stack || '').split(String.fromCharCode(10))[1] || '';
      const at = caller.match(/@(.*):(\d+):\d+$/);
      send(args.map(String).join(' '), at ? at[1] : '', at ? Number(at[2]) : 0);
      return original.apply(console, args);
    };
  }
})
)js";

void ConsoleLine(GPtrArray* arguments, gpointer page_id) {
  if (arguments == nullptr || arguments->len < 3) return;
  char* text = jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(arguments, 0)));
  char* source = jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(arguments, 1)));
  const gint32 line = jsc_value_to_int32(static_cast<JSCValue*>(g_ptr_array_index(arguments, 2)));
  if (WebKitWebPage* page = PageOf(page_id)) {
    SendToView(page, "console", g_variant_new("(ssu)", text ? text : "", source ? source : "",
                                              static_cast<guint32>(line < 0 ? 0 : line)));
  }
  g_free(text);
  g_free(source);
}

// _tev_event(code, text): the code as ToInt32, the text as a string.
void TevEvent(GPtrArray* arguments, gpointer page_id) {
  JSCContext* context = jsc_context_get_current();
  if (arguments == nullptr || arguments->len < 2) {
    jsc_context_throw(context, "Invalid arguments");
    return;
  }
  const gint32 code = jsc_value_to_int32(static_cast<JSCValue*>(g_ptr_array_index(arguments, 0)));
  char* text = jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(arguments, 1)));
  if (WebKitWebPage* page = PageOf(page_id)) SendToView(page, "js_event", g_variant_new("(is)", code, text ? text : ""));
  g_free(text);
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  JSCValue* global = jsc_context_get_global_object(context);
  JSCValue* function =
      jsc_value_new_function_variadic(context, "_tev_event", G_CALLBACK(TevEvent),
                                      GUINT_TO_POINTER(static_cast<guint>(webkit_web_page_get_id(page))), nullptr,
                                      G_TYPE_NONE);
  // Not writable, not enumerable, not configurable: pages cannot replace or delete it.
  jsc_value_object_define_property_data(global, "_tev_event", static_cast<JSCValuePropertyFlags>(0), function);
  g_object_unref(function);

  JSCValue* wrapper = jsc_context_evaluate(context, kConsoleWrapper, -1);
  JSCValue* send = jsc_value_new_function_variadic(
      context, nullptr, G_CALLBACK(ConsoleLine), GUINT_TO_POINTER(static_cast<guint>(webkit_web_page_get_id(page))),
      nullptr, G_TYPE_NONE);
  if (wrapper != nullptr && jsc_value_is_function(wrapper)) {
    JSCValue* result = jsc_value_function_call(wrapper, JSC_TYPE_VALUE, send, G_TYPE_NONE);
    if (result) g_object_unref(result);
  }
  g_object_unref(send);
  if (wrapper) g_object_unref(wrapper);
  g_object_unref(global);
  g_object_unref(context);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  WebKitScriptWorld* world = webkit_script_world_get_default();
  g_object_set_data(G_OBJECT(world), "tev-extension", extension);
  g_signal_connect(world, "window-object-cleared", G_CALLBACK(OnWindowObjectCleared), nullptr);
}
