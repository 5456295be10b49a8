// Loaded by the engine into every web process: gives every frame the
// page-to-host function _tev_event(code, text) and forwards its console
// lines, both as batched user messages to the view.
#include <map>
#include <tuple>
#include <string>
#include <vector>

#include <webkit2/webkit-web-extension.h>

namespace {

// Message strings must be UTF-8; anything else becomes U+FFFD.
std::string ValidText(char* text) {
  if (text == nullptr) return "";
  char* valid = g_utf8_make_valid(text, -1);
  std::string out = valid;
  g_free(valid);
  g_free(text);
  return out;
}

void SendToView(WebKitWebPage* page, const char* name, GVariant* parameters) {
  webkit_web_page_send_message_to_view(page, webkit_user_message_new(name, parameters), nullptr, nullptr, nullptr);
}

// Records of one page wait here and go to the view as one message each of
// "js_events" (a(is)) and "console_lines" (a(ssu)): when the page's script
// yields, or every kFlushAt records so a busy page still delivers.
constexpr std::size_t kFlushAt = 256;

struct Batch {
  std::vector<std::pair<gint32, std::string>> scripts;
  std::vector<std::tuple<std::string, std::string, guint32>> console;
  guint idle = 0;
};
std::map<guint64, Batch> g_batches;

WebKitWebPage* PageOf(guint64 page_id);

void Flush(guint64 page_id) {
  Batch& batch = g_batches[page_id];
  if (batch.idle != 0) g_source_remove(batch.idle);
  batch.idle = 0;
  WebKitWebPage* page = PageOf(page_id);
  if (page != nullptr && !batch.console.empty()) {
    GVariantBuilder lines;
    g_variant_builder_init(&lines, G_VARIANT_TYPE("a(ssu)"));
    for (const auto& [text, source, line] : batch.console) {
      g_variant_builder_add(&lines, "(ssu)", text.c_str(), source.c_str(), line);
    }
    SendToView(page, "console_lines", g_variant_new("(a(ssu))", &lines));
  }
  if (page != nullptr && !batch.scripts.empty()) {
    GVariantBuilder events;
    g_variant_builder_init(&events, G_VARIANT_TYPE("a(is)"));
    for (const auto& [code, text] : batch.scripts) g_variant_builder_add(&events, "(is)", code, text.c_str());
    SendToView(page, "js_events", g_variant_new("(a(is))", &events));
  }
  g_batches.erase(page_id);
}

void Schedule(guint64 page_id, Batch& batch) {
  if (batch.scripts.size() + batch.console.size() >= kFlushAt) {
    Flush(page_id);
    return;
  }
  if (batch.idle == 0) {
    batch.idle = g_idle_add(
        [](gpointer id) -> gboolean {
          const guint64 page = GPOINTER_TO_SIZE(id);
          g_batches[page].idle = 0;
          Flush(page);
          return G_SOURCE_REMOVE;
        },
        GSIZE_TO_POINTER(page_id));
  }
}

WebKitWebPage* PageOf(guint64 page_id) {
  return webkit_web_extension_get_page(
      WEBKIT_WEB_EXTENSION(g_object_get_data(G_OBJECT(webkit_script_world_get_default()), "tev-extension")), page_id);
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
      send(args.map(String).join(' ').toWellFormed(), at ? at[1] : '', at ? Number(at[2]) : 0);
      return original.apply(console, args);
    };
  }
})
)js";

// _tev_event itself: the argument check, ToInt32 of the code and a
// well-formed text (lone surrogates become U+FFFD, which the engine's own
// conversion would cut off), then the native `send`.
constexpr const char* kTevEvent = R"js(
(function (send) {
  return function _tev_event(code, text) {
    if (arguments.length < 2) throw new Error('Invalid arguments');
    send(code | 0, String(text).toWellFormed());
  };
})
)js";

void ConsoleLine(GPtrArray* arguments, gpointer page_id) {
  if (arguments == nullptr || arguments->len < 3) return;
  std::string text = ValidText(jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(arguments, 0))));
  std::string source = ValidText(jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(arguments, 1))));
  const gint32 line = jsc_value_to_int32(static_cast<JSCValue*>(g_ptr_array_index(arguments, 2)));
  const guint64 page = GPOINTER_TO_SIZE(page_id);
  Batch& batch = g_batches[page];
  batch.console.emplace_back(std::move(text), std::move(source), static_cast<guint32>(line < 0 ? 0 : line));
  Schedule(page, batch);
}

// The native end of _tev_event: (int code, string text).
void TevEvent(GPtrArray* arguments, gpointer page_id) {
  if (arguments == nullptr || arguments->len < 2) return;
  const gint32 code = jsc_value_to_int32(static_cast<JSCValue*>(g_ptr_array_index(arguments, 0)));
  std::string text = ValidText(jsc_value_to_string(static_cast<JSCValue*>(g_ptr_array_index(arguments, 1))));
  const guint64 page = GPOINTER_TO_SIZE(page_id);
  Batch& batch = g_batches[page];
  batch.scripts.emplace_back(code, std::move(text));
  Schedule(page, batch);
}

// Calls `factory(native)` in `context` and returns the result (owned), or null.
JSCValue* Build(JSCContext* context, const char* factory, JSCValue* native) {
  JSCValue* maker = jsc_context_evaluate(context, factory, -1);
  JSCValue* made = nullptr;
  if (maker != nullptr && jsc_value_is_function(maker)) made = jsc_value_function_call(maker, JSC_TYPE_VALUE, native, G_TYPE_NONE);
  if (maker) g_object_unref(maker);
  return made;
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
  JSCContext* context = webkit_frame_get_js_context_for_script_world(frame, world);
  JSCValue* global = jsc_context_get_global_object(context);
  const gpointer page_id = GSIZE_TO_POINTER(webkit_web_page_get_id(page));

  JSCValue* send = jsc_value_new_function_variadic(context, nullptr, G_CALLBACK(TevEvent), page_id, nullptr, G_TYPE_NONE);
  if (JSCValue* function = Build(context, kTevEvent, send)) {
    // Not writable, not enumerable, not configurable: pages cannot replace or delete it.
    jsc_value_object_define_property_data(global, "_tev_event", static_cast<JSCValuePropertyFlags>(0), function);
    g_object_unref(function);
  }
  g_object_unref(send);

  JSCValue* line = jsc_value_new_function_variadic(context, nullptr, G_CALLBACK(ConsoleLine), page_id, nullptr, G_TYPE_NONE);
  if (JSCValue* done = Build(context, kConsoleWrapper, line)) g_object_unref(done);
  g_object_unref(line);
  g_object_unref(global);
  g_object_unref(context);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize(WebKitWebExtension* extension) {
  WebKitScriptWorld* world = webkit_script_world_get_default();
  g_object_set_data(G_OBJECT(world), "tev-extension", extension);
  g_signal_connect(world, "window-object-cleared", G_CALLBACK(OnWindowObjectCleared), nullptr);
}
