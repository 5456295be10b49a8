// browser_process with the real engine, through libTEVBrowser.so: pages,
// input, events, dialogs, menus and the process boundary.
#include "engine_fixture.h"

namespace {

using namespace tev_e2e;

TEST_F(Engine, FirstRenderIsTheBlankBufferThenPagesPaintTheirColourInBgra) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(10,200,30)").c_str());
  ASSERT_EQ(h, 1);
  bool updated = false;
  int32_t w = 0, ht = 0, c = 0;
  void* pixels = nullptr;
  ASSERT_TRUE(TEVBrowser_Render(h, &updated, &w, &ht, &pixels, &c));
  EXPECT_TRUE(updated);
  EXPECT_EQ(w, 512);
  EXPECT_EQ(ht, 512);
  EXPECT_EQ(static_cast<std::uint8_t*>(pixels)[1000], 0);
  ASSERT_TRUE(TEVBrowser_Render(h, &updated, &w, &ht, &pixels, &c));
  EXPECT_FALSE(updated);
  EXPECT_EQ(w, 0);

  TEVBrowser_SetSize(h, 640, 360, 1.0f);
  ASSERT_TRUE(FrameShows(h, 640, 360, 0xFF0AC81E)) << std::hex << Pixel(320, 180);
  EXPECT_EQ(frame_[(180 * 640 + 320) * 4 + 0], 30);  // blue first
  EXPECT_EQ(frame_[(180 * 640 + 320) * 4 + 2], 10);  // then green, red
  EXPECT_TRUE(Loaded());
  ASSERT_FALSE(g_events.empty());
  EXPECT_EQ(g_events.front(), BrowserCreated);

  TEVBrowser_SetSize(h, 800, 600, 1.0f);
  EXPECT_TRUE(FrameShows(h, 800, 600, 0xFF0AC81E));
}

TEST_F(Engine, GoToHtmlNavigateAndDestroy) {
  testing::internal::CaptureStderr();  // before the program inherits the stream
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(200,0,0)").c_str());
  TEVBrowser_SetSize(h, 320, 200, 1.0f);
  ASSERT_TRUE(FrameShows(h, 320, 200, 0xFFC80000));
  TEVBrowser_GoToHTML(h, "<html><body style='margin:0;background:rgb(0,0,200)'>+/= in the text</body></html>", false);
  ASSERT_TRUE(FrameShows(h, 320, 200, 0xFF0000C8));
  TEVBrowser_Navigate(h, false);  // back to the first page
  ASSERT_TRUE(FrameShows(h, 320, 200, 0xFFC80000));

  TEVBrowser_DestroyBrowser(h);
  ASSERT_TRUE(PumpUntil(h, [] { return std::count(g_events.begin(), g_events.end(), BrowserClosed) == 1; }));
  TEVBrowser_Reload(h, false);
  TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);  // the request has been handled once this returns
  TEVBrowser_Shutdown();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("CLIENT Reload: Browser has not yet been created\n"), std::string::npos) << err;
}

TEST_F(Engine, TypedTextReachesAFieldExactlyOnce) {
  ASSERT_TRUE(Start());
  // Green once the field holds exactly the typed text, red otherwise.
  const std::string page = Solid("rgb(255,0,0)",
                                 "<input id=f autofocus style='position:absolute;left:0;top:0;width:300px;height:40px' "
                                 "oninput=\"document.body.style.background = this.value == 'Hi there!' ? "
                                 "'rgb(0,255,0)' : 'rgb(255,0,0)'\">");
  const int32_t h = TEVBrowser_CreateBrowser(page.c_str());
  TEVBrowser_SetSize(h, 400, 300, 1.0f);
  ASSERT_TRUE(FrameShows(h, 400, 300, 0xFFFF0000));
  TEVBrowser_SendFocusEvent(h, true);
  TEVBrowser_SendMouseClickEvent(h, 20, 20, 0, false, 1, 0);
  TEVBrowser_SendMouseClickEvent(h, 20, 20, 0, true, 1, 0);
  const std::string text = "Hi there!";
  for (char ch : text) {
    const bool upper = ch >= 'A' && ch <= 'Z';
    const int vk = ch == ' ' ? 0x20 : ch == '!' ? 0x31 : std::toupper(static_cast<unsigned char>(ch));
    const uint32_t mods = (upper || ch == '!') ? 2u : 0u;  // shift
    TEVBrowser_SendKeyEvent(h, vk, 0, false, mods);
    TEVBrowser_SendCharacterEvent(h, static_cast<uint16_t>(ch), static_cast<uint16_t>(ch), mods);
    TEVBrowser_SendKeyEvent(h, vk, 0, true, mods);
  }
  EXPECT_TRUE(FrameShows(h, 400, 300, 0xFF00FF00)) << std::hex << Pixel(200, 150);
  // Backspace removes one character: red again.
  TEVBrowser_SendKeyEvent(h, 0x08, 0, false, 0);
  TEVBrowser_SendCharacterEvent(h, 8, 8, 0);
  TEVBrowser_SendKeyEvent(h, 0x08, 0, true, 0);
  EXPECT_TRUE(FrameShows(h, 400, 300, 0xFFFF0000));
}

TEST_F(Engine, APageLoadReportsAddressTitleLoadingAndItsEnd) {
  const ServedPage page("http", "<html><head><title>Served page</title></head><body>hello</body></html>");
  const std::string& url = page.url();
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(url.c_str());
  ASSERT_TRUE(PumpUntil(h, [&] { return Loaded() && std::count(g_events.begin(), g_events.end(), TitleChanged) > 0; }));
  auto first = [](int code) {
    return std::find_if(g_payloads.begin(), g_payloads.end(), [code](const auto& p) { return p.first == code; });
  };
  ASSERT_NE(first(AddressChanged), g_payloads.end());
  ASSERT_NE(first(TitleChanged), g_payloads.end());
  ASSERT_NE(first(LoadingStateChanged), g_payloads.end());
  EXPECT_EQ(first(AddressChanged)->second, "{\"url\":\"" + url + "\"}");
  EXPECT_EQ(first(TitleChanged)->second, "{\"title\":\"Served page\"}");
  EXPECT_EQ(first(LoadingStateChanged)->second, "{\"isLoading\":true,\"canGoBack\":false,\"canGoForward\":false}");
  EXPECT_EQ(first(LoadEnded)->second, "{\"status\":200,\"url\":\"" + url + "\"}");
  // Loading starts before the address and the end comes after it; this engine
  // reports the title whenever it is parsed, which may be after the end.
  EXPECT_LT(first(LoadingStateChanged), first(AddressChanged));
  EXPECT_LT(first(AddressChanged), first(LoadEnded));
}

TEST_F(Engine, AClosedPortFailsWithConnectionRefused) {
  const int port = HttpServer::FreePort();  // nothing listens there
  const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(url.c_str());
  ASSERT_TRUE(PumpUntil(h, [] { return std::count(g_events.begin(), g_events.end(), LoadFailed) > 0; }));
  const auto failed = std::find_if(g_payloads.begin(), g_payloads.end(), [](const auto& p) { return p.first == LoadFailed; });
  EXPECT_EQ(failed->second, "{\"error\":-102,\"url\":\"" + url + "\"}");
}

TEST_F(Engine, WindowOpenReportsTheUrlAndMakesNoBrowser) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(5,5,5)").c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  ASSERT_TRUE(FrameShows(h, 200, 100, 0xFF050505));
  TEVBrowser_ExecuteJavascript(h, "window.open('https://popup.test/x', '_blank');");
  ASSERT_TRUE(PumpUntil(h, [] { return std::count(g_events.begin(), g_events.end(), OpenURL) > 0; }));
  const auto open = std::find_if(g_payloads.begin(), g_payloads.end(), [](const auto& p) { return p.first == OpenURL; });
  EXPECT_EQ(open->second, "{\"url\":\"https://popup.test/x\"}");
  PumpUntil(h, [] { return false; }, 1);
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), OpenURL), 1);
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), BrowserCreated), 1);  // no second browser
}

std::string g_dialog_answer;
// Answers every JavaScript dialog from inside the event callback, as an
// application would.
void AnswerDialogs(int32_t handle, int32_t code, const char* data) {
  OnEvent(handle, code, data);
  if (code == JavaScriptDialog) TEVBrowser_SetDialogResult(handle, true, g_dialog_answer.c_str());
}

TEST_F(Engine, DialogsWaitForTheHostsAnswer) {
  ASSERT_TRUE(Start());
  // Green only once alert has returned, confirm said yes and prompt got the text.
  const std::string page =
      "data:text/html,<html><body style='margin:0;background:rgb(255,0,0)'><script>"
      "alert('first');"
      "var ok = confirm('sure?');"
      "var name = prompt('name?', 'Ann');"
      "if (ok && name === 'Bob') document.body.style.background = 'rgb(0,255,0)';"
      "</script></body></html>";
  g_dialog_answer = "Bob";
  const int32_t h = TEVBrowser_CreateBrowser(page.c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  PumpUntil(h, [&] { return width_ == 200 && Pixel(100, 50) == 0xFF00FF00; }, 20, AnswerDialogs);
  EXPECT_EQ(Pixel(100, 50), 0xFF00FF00u);
  std::vector<std::string> dialogs;
  for (const auto& [code, data] : g_payloads) {
    if (code == JavaScriptDialog) dialogs.push_back(data);
  }
  EXPECT_EQ(dialogs, (std::vector<std::string>{
                         R"({"dialogType":0,"messageText":"first","defaultPromptText":""})",
                         R"({"dialogType":1,"messageText":"sure?","defaultPromptText":""})",
                         R"({"dialogType":2,"messageText":"name?","defaultPromptText":"Ann"})"}));
}

TEST_F(Engine, ConsoleLinesAndTheScriptBridge) {
  const auto dir = std::filesystem::temp_directory_path() / ("tev_bridge_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "bridge.html") << "<html><body><script>\n"
                                        "console.log('one');\nconsole.log('two');\nconsole.log('three');\n"
                                        "_tev_event(7, 'hi');\n"
                                        "try { _tev_event(1); } catch (e) { _tev_event(8, e.message); }\n"
                                        "_tev_event = null; delete window._tev_event;\n"
                                        "_tev_event(9, typeof _tev_event);\n"
                                        "_tev_event(11, 'a\\ud800b');\n"
                                        "</script><iframe srcdoc=\"<script>_tev_event(10, 'from the iframe')</script>\">"
                                        "</iframe></body></html>";
  const std::string url = "file://" + (dir / "bridge.html").string();
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(url.c_str());
  PumpUntil(h, [] { return g_scripts.size() >= 5; });
  EXPECT_EQ(g_console, (std::vector<std::string>{"one @" + url + ":2", "two @" + url + ":3", "three @" + url + ":4"}));
  // A lone surrogate arrives as U+FFFD, never as broken bytes.
  EXPECT_EQ(g_scripts, (std::vector<std::string>{"7 hi", "8 Invalid arguments", "9 function", "11 a\xef\xbf\xbd" "b",
                                                 "10 from the iframe"}));
  std::filesystem::remove_all(dir);
}

// Answers every context menu with `g_menu_choice`, as a person choosing
// from the application's own menu would.
constexpr int kNoAnswer = -999;
int g_menu_choice = 0;
std::vector<std::string> g_menus;
void AnswerMenus(int32_t handle, int32_t code, const char* data) {
  OnEvent(handle, code, data);
  if (code != ContextMenu) return;
  g_menus.push_back(data);
  if (g_menu_choice != kNoAnswer) TEVBrowser_SetContextMenuResult(handle, g_menu_choice);
}

TEST_F(Engine, ContextMenusReportWhatWasClickedAndCarryOutTheChoice) {
  const std::string png =
      "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==";
  const std::string page =
      "data:text/html,<html><body style='margin:0;font:20px sans-serif'>"
      "<p id=sel style='position:absolute;left:0;top:0;margin:0'>selected words</p>"
      "<p style='position:absolute;left:0;top:60px;margin:0'>plain text here</p>"
      "<img src='data:image/png;base64," + png + "' style='position:absolute;left:0;top:120px;width:100px;height:80px'>"
      "<input id=f value='some words' style='position:absolute;left:0;top:220px;width:300px;height:40px' "
      "onselect=\"_tev_event(5, this.selectionStart + '-' + this.selectionEnd)\">"
      "<script>getSelection().selectAllChildren(document.getElementById('sel'))</script></body></html>";
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(page.c_str());
  TEVBrowser_SetSize(h, 400, 300, 1.0f);
  ASSERT_TRUE(PumpUntil(h, [&] { return Loaded() && width_ == 400; }));
  TEVBrowser_SendFocusEvent(h, true);
  auto right_click = [&](int x, int y) {
    const std::size_t before = g_menus.size();
    TEVBrowser_SendMouseClickEvent(h, x, y, 2, false, 1, 0);
    TEVBrowser_SendMouseClickEvent(h, x, y, 2, true, 1, 0);
    PumpUntil(
        h,
        [&] {
          return g_menus.size() > before && std::count(g_events.begin(), g_events.end(), ContextMenuDismissed) >=
                                                static_cast<long>(g_menus.size());
        },
        20, AnswerMenus);
    return g_menus.size() > before ? g_menus.back() : std::string();
  };
  auto origin = [](const std::string& menu) {
    const auto at = menu.rfind("\"origin\":");
    return at == std::string::npos ? -1 : std::stoi(menu.substr(at + 9));
  };
  // An id that no item has: the menu closes and nothing happens.
  g_menu_choice = 123456;
  const std::string on_selection = right_click(30, 10);
  EXPECT_EQ(origin(on_selection), 1) << on_selection;
  EXPECT_NE(on_selection.find(",\"x\":30,\"y\":10,"), std::string::npos) << on_selection;
  const std::string on_text = right_click(30, 70);
  EXPECT_EQ(origin(on_text), 3) << on_text;
  EXPECT_EQ(origin(right_click(50, 160)), 2);
  // In the field, "Select All" by its id selects the field's text.
  g_menu_choice = 18;
  const std::string in_field = right_click(20, 240);
  EXPECT_EQ(origin(in_field), 0) << in_field;
  EXPECT_NE(in_field.find(R"("label":"Select _All","group":0,"visible":true,"isEnabled":true,"isChecked":false,"commandId":18,"hotkey":null})"),
            std::string::npos)
      << in_field;
  EXPECT_TRUE(PumpUntil(h, [&] { return std::find(g_scripts.begin(), g_scripts.end(), "5 0-10") != g_scripts.end(); }))
      << testing::PrintToString(g_scripts);
  // Every item is complete, and every menu ended with exactly one event 9.
  for (const auto& menu : g_menus) {
    EXPECT_EQ(menu.rfind(R"({"menu":[{"type":")", 0), 0u) << menu;
    EXPECT_NE(menu.find(R"("group":0,"visible":true,"isEnabled":)"), std::string::npos) << menu;
  }
  PumpUntil(h, [] { return false; }, 1);
  EXPECT_EQ(g_menus.size(), 4u);
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), ContextMenuDismissed), 4);

  // A menu left open is given up by a navigation: one event 9 all the same.
  g_menu_choice = kNoAnswer;
  TEVBrowser_SendMouseClickEvent(h, 30, 70, 2, false, 1, 0);
  TEVBrowser_SendMouseClickEvent(h, 30, 70, 2, true, 1, 0);
  PumpUntil(h, [] { return g_menus.size() >= 5; }, 20, AnswerMenus);
  ASSERT_EQ(g_menus.size(), 5u);
  TEVBrowser_GoToURL(h, Solid("rgb(0,0,255)").c_str(), true);
  EXPECT_TRUE(PumpUntil(h, [] { return std::count(g_events.begin(), g_events.end(), ContextMenuDismissed) == 5; }));
  TEVBrowser_SetContextMenuResult(h, 18);  // too late: nothing
  PumpUntil(h, [] { return false; }, 1);
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), ContextMenuDismissed), 5);
}

// Answers before-unload dialogs with `g_unload_leave` and every other
// dialog with OK.
bool g_unload_leave = false;
void AnswerUnload(int32_t handle, int32_t code, const char* data) {
  OnEvent(handle, code, data);
  if (code != JavaScriptDialog) return;
  const bool unload = std::string(data).find("\"dialogType\":3") != std::string::npos;
  TEVBrowser_SetDialogResult(handle, unload ? g_unload_leave : true, "");
}

TEST_F(Engine, BeforeUnloadStaysOrLeavesAsTheHostSays) {
  const auto dir = std::filesystem::temp_directory_path() / ("tev_unload_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "guarded.html") << "<html><body style='margin:0;background:rgb(255,0,0)'><script>"
                                         "onbeforeunload = e => { e.preventDefault(); e.returnValue = 'sure?'; };"
                                         "</script></body></html>";
  std::ofstream(dir / "next.html") << "<html><body style='margin:0;background:rgb(0,0,255)'></body></html>";
  HttpServer server(dir.string());
  const std::string site = "http://127.0.0.1:" + std::to_string(server.port());
  const std::string guarded = site + "/guarded.html";
  const std::string next = site + "/next.html";
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(guarded.c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  ASSERT_TRUE(FrameShows(h, 200, 100, 0xFFFF0000));
  // Pages may only ask once a person has touched them.
  TEVBrowser_SendMouseClickEvent(h, 50, 50, 0, false, 1, 0);
  TEVBrowser_SendMouseClickEvent(h, 50, 50, 0, true, 1, 0);
  PumpUntil(h, [] { return false; }, 1, AnswerUnload);
  auto unload_dialogs = [] {
    return std::count_if(g_payloads.begin(), g_payloads.end(), [](const auto& p) {
      return p.first == JavaScriptDialog && p.second.find("\"dialogType\":3") != std::string::npos;
    });
  };

  // "Stay": the page and its state remain.
  g_unload_leave = false;
  TEVBrowser_ExecuteJavascript(h, "window.kept = 42;");
  TEVBrowser_GoToURL(h, next.c_str(), false);
  PumpUntil(h, [] { return false; }, 2, AnswerUnload);
  EXPECT_EQ(unload_dialogs(), 1);
  // Green only where the old page, with its state, is still there.
  TEVBrowser_ExecuteJavascript(h, "if (location.pathname == '/guarded.html' && window.kept === 42) "
                                  "document.body.style.background = 'rgb(0,255,0)';"
                                  "_tev_event(1, location.pathname + ' ' + window.kept);");
  EXPECT_TRUE(FrameShows(h, 200, 100, 0xFF00FF00));
  EXPECT_TRUE(PumpUntil(h, [] { return !g_scripts.empty(); }));
  EXPECT_EQ(g_scripts, std::vector<std::string>{"1 /guarded.html 42"});

  // The skip flag leaves without asking.
  TEVBrowser_GoToURL(h, next.c_str(), true);
  EXPECT_TRUE(FrameShows(h, 200, 100, 0xFF0000FF));
  EXPECT_EQ(unload_dialogs(), 1);
  std::filesystem::remove_all(dir);
}

TEST_F(Engine, BeforeUnloadLeaveFollowsTheNavigation) {
  const std::string guarded = Solid("rgb(255,0,0)",
                                    "<script>onbeforeunload = e => { e.preventDefault(); e.returnValue = 'x'; };"
                                    "</script>");
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(guarded.c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  ASSERT_TRUE(FrameShows(h, 200, 100, 0xFFFF0000));
  TEVBrowser_SendMouseClickEvent(h, 50, 50, 0, false, 1, 0);
  TEVBrowser_SendMouseClickEvent(h, 50, 50, 0, true, 1, 0);
  PumpUntil(h, [] { return false; }, 1);
  g_unload_leave = true;
  TEVBrowser_GoToURL(h, Solid("rgb(0,0,255)").c_str(), false);
  PumpUntil(h, [&] { return Pixel(100, 50) == 0xFF0000FF; }, 20, AnswerUnload);
  EXPECT_EQ(Pixel(100, 50), 0xFF0000FFu);
  EXPECT_EQ(std::count_if(g_payloads.begin(), g_payloads.end(),
                          [](const auto& p) { return p.first == JavaScriptDialog; }),
            1);
}

TEST_F(Engine, ADialogWhileOneIsPendingYieldsNoEvent) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(255,0,0)", "<script>alert('one')</script>").c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  ASSERT_TRUE(PumpUntil(h, [] { return std::count(g_events.begin(), g_events.end(), JavaScriptDialog) == 1; }));
  TEVBrowser_ExecuteJavascript(h, "alert('two')");
  PumpUntil(h, [] { return false; }, 2);
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), JavaScriptDialog), 1);
  // Answered, the page goes on; the second script runs only now and asks
  // in its own turn.
  TEVBrowser_SetDialogResult(h, true, "");
  PumpUntil(h, [&] { return Loaded(); }, 20, AnswerDialogs);
  EXPECT_TRUE(Loaded());
  std::vector<std::string> dialogs;
  for (const auto& [code, data] : g_payloads) {
    if (code == JavaScriptDialog) dialogs.push_back(data);
  }
  EXPECT_LE(dialogs.size(), 2u);
  EXPECT_EQ(dialogs.front(), R"({"dialogType":0,"messageText":"one","defaultPromptText":""})");
}

TEST_F(Engine, ASelectListIsDrawnIntoTheFrameAndChoosesLikeADropdown) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(
      Solid("rgb(255,0,0)",
            "<select style='position:absolute;left:10px;top:10px;width:150px;height:24px;margin:0' "
            "onchange='_tev_event(3, this.value)'>"
            "<option value=va>a</option><option value=vb>b</option><option value=vc>c</option>"
            "<option value=vd>d</option><option value=ve>e</option></select>")
          .c_str());
  TEVBrowser_SetSize(h, 300, 200, 1.0f);
  ASSERT_TRUE(PumpUntil(h, [&] { return Loaded() && width_ == 300 && Pixel(250, 150) == 0xFFFF0000; }));
  const int row = 22, top = 34;  // the list opens below the element
  auto click = [&](int x, int y) {
    TEVBrowser_SendMouseClickEvent(h, x, y, 0, false, 1, 0);
    TEVBrowser_SendMouseClickEvent(h, x, y, 0, true, 1, 0);
  };
  auto row_pixel = [&](int index) { return Pixel(150, top + index * row + row / 2); };
  // Open: the selected first option is highlighted, the others on white.
  click(50, 20);
  ASSERT_TRUE(PumpUntil(h, [&] { return row_pixel(0) == 0xFF3366CC; })) << std::hex << row_pixel(0);
  EXPECT_EQ(row_pixel(1), 0xFFFFFFFFu);
  EXPECT_EQ(row_pixel(4), 0xFFFFFFFFu);
  EXPECT_EQ(Pixel(10, top + 30), 0xFF808080u);  // its border
  EXPECT_EQ(Pixel(150, top + 5 * row + 5), 0xFFFF0000u);  // the page below it
  // Hovering moves the highlight; the list stays open across frames.
  TEVBrowser_SendMouseMoveEvent(h, 60, top + 3 * row + 5, 0);
  EXPECT_TRUE(PumpUntil(h, [&] { return row_pixel(3) == 0xFF3366CC && row_pixel(0) == 0xFFFFFFFF; }));
  // A click on the third option chooses it: change fires with its value, the list goes.
  click(60, top + 2 * row + 10);
  EXPECT_TRUE(PumpUntil(h, [] { return !g_scripts.empty(); }));
  EXPECT_EQ(g_scripts, std::vector<std::string>{"3 vc"});
  EXPECT_TRUE(PumpUntil(h, [&] { return row_pixel(2) == 0xFFFF0000 && row_pixel(0) == 0xFFFF0000; }));

  // Keys: Down from the chosen "c", then Enter.
  click(50, 20);
  ASSERT_TRUE(PumpUntil(h, [&] { return row_pixel(2) == 0xFF3366CC; }));
  TEVBrowser_SendKeyEvent(h, 0x28, 0, false, 0);
  TEVBrowser_SendKeyEvent(h, 0x28, 0, true, 0);
  EXPECT_TRUE(PumpUntil(h, [&] { return row_pixel(3) == 0xFF3366CC; }));
  TEVBrowser_SendKeyEvent(h, 0x0D, 0, false, 0);
  TEVBrowser_SendKeyEvent(h, 0x0D, 0, true, 0);
  EXPECT_TRUE(PumpUntil(h, [] { return g_scripts.size() == 2; }));
  EXPECT_EQ(g_scripts.back(), "3 vd");
  // Escape and a click elsewhere close it without a change.
  click(50, 20);
  ASSERT_TRUE(PumpUntil(h, [&] { return row_pixel(3) == 0xFF3366CC; }));
  TEVBrowser_SendKeyEvent(h, 0x1B, 0, false, 0);
  TEVBrowser_SendKeyEvent(h, 0x1B, 0, true, 0);
  EXPECT_TRUE(PumpUntil(h, [&] { return row_pixel(3) == 0xFFFF0000; }));
  click(50, 20);
  ASSERT_TRUE(PumpUntil(h, [&] { return row_pixel(3) == 0xFF3366CC; }));
  click(250, 180);
  EXPECT_TRUE(PumpUntil(h, [&] { return row_pixel(3) == 0xFFFF0000; }));
  PumpUntil(h, [] { return false; }, 1);
  EXPECT_EQ(g_scripts.size(), 2u);
}

std::string g_chosen_file;
// Answers a file chooser with one file from inside the event callback.
void AnswerFileChooser(int32_t handle, int32_t code, const char* data) {
  OnEvent(handle, code, data);
  if (code == FileDialogOpen || code == FileDialogOpenMultiple) {
    const char* paths[] = {g_chosen_file.c_str()};
    TEVBrowser_SetFileDialogResult(handle, 1, paths);
  }
}

TEST_F(Engine, AFileInputAsksTheHostAndGetsTheChosenFile) {
  const auto dir = std::filesystem::temp_directory_path() / ("tev_chooser_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  g_chosen_file = (dir / "pick.png").string();
  std::ofstream(g_chosen_file) << "not really a png";
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(
      Solid("rgb(255,0,0)",
            "<input type=file accept='image/png' multiple style='position:absolute;left:0;top:0;width:200px;"
            "height:100px' onchange=\"document.body.style.background = this.files[0].name == 'pick.png' ? "
            "'rgb(0,255,0)' : 'rgb(0,0,255)'\">")
          .c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  ASSERT_TRUE(FrameShows(h, 200, 100, 0xFFFF0000));
  TEVBrowser_SendMouseClickEvent(h, 50, 50, 0, false, 1, 0);
  TEVBrowser_SendMouseClickEvent(h, 50, 50, 0, true, 1, 0);
  PumpUntil(h, [&] { return Pixel(100, 50) == 0xFF00FF00; }, 20, AnswerFileChooser);
  EXPECT_EQ(Pixel(100, 50), 0xFF00FF00u);
  const auto chooser = std::find_if(g_payloads.begin(), g_payloads.end(),
                                    [](const auto& p) { return p.first == FileDialogOpenMultiple; });
  ASSERT_NE(chooser, g_payloads.end());
  EXPECT_EQ(chooser->second.rfind(R"({"default_path":"","extensions":[".png"],"descriptions":[")", 0), 0u) << chooser->second;
  std::filesystem::remove_all(dir);
}

TEST_F(Engine, APointerElementGivesCursorSix) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(
      Solid("rgb(0,0,0)", "<div style='cursor:pointer;position:absolute;inset:0'></div>").c_str());
  TEVBrowser_SetSize(h, 300, 200, 1.0f);
  ASSERT_TRUE(FrameShows(h, 300, 200, 0xFF000000));
  ASSERT_TRUE(PumpUntil(h, [&] {
    TEVBrowser_SendMouseMoveEvent(h, 150, 100, 0);
    return cursor_ == 6;
  }));
  TEVBrowser_SendMouseMoveEvent(h, -1, 100, 0);  // leaving the view
  TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
}

TEST_F(Engine, DebugOpensTheInspectorPort) {
  ASSERT_TRUE(Start(true));
  const int32_t h = TEVBrowser_CreateBrowser("about:blank");
  ASSERT_TRUE(PumpUntil(h, [] { return !g_events.empty(); }));
  bool answered = false;
  for (int i = 0; i < 100 && !answered; ++i) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9222);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    answered = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(answered);
}


TEST_F(Engine, ClosingThePipeLeavesNoProcessBehind) {
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(1,2,3)").c_str());
  TEVBrowser_SetSize(h, 200, 100, 1.0f);
  ASSERT_TRUE(FrameShows(h, 200, 100, 0xFF010203));
  const int program = OurBrowserProcess();
  ASSERT_GT(program, 0);
  // The program, its private Xvfb and the engine's web and network processes.
  const std::vector<int> started = Tree(program);
  EXPECT_GE(started.size(), 4u);
  TEVBrowser_Shutdown();
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (StillRunning(started) > 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(StillRunning(started), 0u);
}

TEST_F(Engine, AnUnknownMessageShutsDownInOrderWithStatusZero) {
  // Our own host, to send what the library never sends.
  std::string text;
  auto host = PipeChannel::Create(text);
  ASSERT_TRUE(host);
  const std::string name = "TEVBrowserIPC_e2e_" + std::to_string(getpid());
  SharedMemory section = SharedMemory::Create(name.c_str(), kFrameBufferSize);
  ASSERT_EQ(section.error, 0);
  testing::internal::CaptureStderr();
  const auto pid = tev_test::Start(Program(), "--main-browser-process=" + text, host->peer_end());
  host->ReleasePeerEnd();
  IPCInitialize init;
  init.section_name = name;
  ASSERT_TRUE(host->Send(0, ipc::Encode(init)));
  ASSERT_TRUE(host->Send(1, ipc::Encode(IPCCreateBrowser{"about:blank"})));
  std::uint32_t type = 0;
  std::vector<std::uint8_t> payload;
  ASSERT_TRUE(host->Receive(type, payload));
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(host->Send(3, ipc::Encode(IPCProcessEvents{0})));
    ASSERT_TRUE(host->Receive(type, payload));
  }
  ASSERT_TRUE(host->Send(77, {}));
  EXPECT_EQ(tev_test::Wait(pid), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("CLIENT: Unknown message type: 77\nCLIENT: Shutdown\n"), std::string::npos) << err;
  // The program's own last line (the engine's helpers may still print after it).
  std::istringstream lines(err);
  std::string line, last;
  while (std::getline(lines, line)) {
    if (line.rfind("CLIENT:", 0) == 0) last = line;
  }
  EXPECT_EQ(last, "CLIENT: Quitting");
  section.Release();
}

TEST_F(Engine, AKilledBrowserProcessIsSeenWithinASecondWhileAPageSpins) {
  ASSERT_TRUE(Start());
  const int32_t calm = TEVBrowser_CreateBrowser(Solid("rgb(1,2,3)").c_str());
  TEVBrowser_SetSize(calm, 200, 100, 1.0f);
  ASSERT_TRUE(FrameShows(calm, 200, 100, 0xFF010203));
  const int32_t spinning = TEVBrowser_CreateBrowser(Solid("rgb(4,5,6)", "<script>for(;;){}</script>").c_str());
  TEVBrowser_SetSize(spinning, 200, 100, 1.0f);
  PumpUntil(spinning, [] { return false; }, 1);  // the script spins by now
  const int program = OurBrowserProcess();
  ASSERT_GT(program, 0);
  // Its children (Xvfb, the engine's processes) must not hold the channel open.
  ASSERT_EQ(kill(program, SIGKILL), 0);
  const auto killed = Clock::now();
  bool alive = true;
  while (alive && Clock::now() - killed < std::chrono::seconds(5)) {
    TEVBrowser_ProcessEvents(nullptr, nullptr, nullptr);
    alive = TEVBrowser_ConnectionValid();
  }
  EXPECT_FALSE(alive);
  EXPECT_LT(Clock::now() - killed, std::chrono::seconds(1));
  bool updated = true;
  int32_t w = 0, h = 0, c = 0;
  void* pixels = nullptr;
  EXPECT_FALSE(TEVBrowser_Render(calm, &updated, &w, &h, &pixels, &c));
}

TEST_F(Engine, AKilledHostLeavesNoProcessSectionOrDisplayBehind) {
  const std::set<std::string> sockets_before = DisplaySockets();
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t host = fork();
  if (host == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    const std::string program = tev_test::BinaryDir() + "/abandoned_host";
    execl(program.c_str(), program.c_str(), Program().c_str(), nullptr);
    _exit(127);
  }
  close(out[1]);
  // Its standard output names the section, then says "ready" once a frame came.
  std::string said;
  const auto give_up = Clock::now() + std::chrono::seconds(30);
  char chunk[512];
  while (said.find("ready\n") == std::string::npos && Clock::now() < give_up) {
    const ssize_t n = read(out[0], chunk, sizeof chunk);
    if (n <= 0) break;
    said.append(chunk, static_cast<std::size_t>(n));
  }
  close(out[0]);
  ASSERT_NE(said.find("ready\n"), std::string::npos) << said;
  const std::string marker = "HOST: Creating shared memory: ";
  const auto at = said.find(marker);
  ASSERT_NE(at, std::string::npos) << said;
  const std::string section = said.substr(at + marker.size(), said.find('\n', at) - at - marker.size());

  const std::vector<int> tree = Tree(host);
  EXPECT_GE(tree.size(), 4u);  // the host, browser_process, its Xvfb, the engine's processes
  std::vector<std::string> displays;  // the private display's socket
  for (const auto& s : DisplaySockets()) {
    if (!sockets_before.count(s)) displays.push_back(s);
  }
  EXPECT_EQ(displays.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists("/dev/shm/" + section));  // gone once both sides mapped it

  ASSERT_EQ(kill(host, SIGKILL), 0);
  waitpid(host, nullptr, 0);
  const auto killed = Clock::now();
  auto files_left = [&] {
    int n = 0;
    for (const auto& socket : displays) {
      const std::string number = socket.substr(socket.rfind('X') + 1);
      n += std::filesystem::exists(socket) + std::filesystem::exists("/tmp/.X" + number + "-lock");
    }
    return n;
  };
  while ((StillRunning(tree) > 0 || files_left() > 0) && Clock::now() - killed < std::chrono::seconds(2)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(StillRunning(tree), 0u);
  EXPECT_EQ(files_left(), 0);
  EXPECT_FALSE(std::filesystem::exists("/dev/shm/" + section));
}

TEST_F(Engine, DestroyedBrowsersGiveTheirMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
  // Freed blocks wait in the sanitizer's quarantine, which would count here.
  const char* options = std::getenv("ASAN_OPTIONS");
  setenv("ASAN_OPTIONS", (std::string(options ? options : "") + ":quarantine_size_mb=0").c_str(), 1);
#endif
  ASSERT_TRUE(Start());
  const int program = OurBrowserProcess();
  ASSERT_GT(program, 0);
  std::size_t baseline = 0;
  for (int cycle = 0; cycle < 60; ++cycle) {
    const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(1,2,3)").c_str());
    TEVBrowser_SetSize(h, 1280, 720, 1.0f);
    ASSERT_TRUE(FrameShows(h, 1280, 720, 0xFF010203)) << cycle;
    const std::size_t closed = std::count(g_events.begin(), g_events.end(), BrowserClosed);
    TEVBrowser_DestroyBrowser(h);
    ASSERT_TRUE(PumpUntil(h, [&] { return std::size_t(std::count(g_events.begin(), g_events.end(), BrowserClosed)) > closed; }))
        << cycle;
    if (cycle == 4) baseline = Resident(program);  // past the engine's own warm-up
  }
  const std::size_t last = Resident(program);
  EXPECT_LT(last, baseline + (20u << 20)) << "from " << baseline << " to " << last;
}

// The engine keeps one view with its web process running for the next
// browser. A page from another site commits in that process (no process
// started for it, none swapped out) and has no history behind it.
TEST_F(Engine, ANewBrowserLoadsItsPageInTheWarmViewsProcess) {
  const ServedPage page("warm", "<html><body style='margin:0;background:rgb(9,8,7)'>served</body></html>");
  const std::string& url = page.url();
  ASSERT_TRUE(Start());
  const int32_t first = TEVBrowser_CreateBrowser(Solid("rgb(1,2,3)").c_str());
  TEVBrowser_SetSize(first, 320, 200, 1.0f);
  ASSERT_TRUE(FrameShows(first, 320, 200, 0xFF010203));
  const int program = OurBrowserProcess();
  ASSERT_GT(program, 0);
  auto web_processes = [program] {
    std::vector<int> found;
    for (int pid : Tree(program)) {
      std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
      std::string name;
      if (std::getline(comm, name) && name == "WebKitWebProces") found.push_back(pid);
    }
    return found;
  };
  // The first page's process and the warm one.
  ASSERT_TRUE(PumpUntil(first, [&] { return web_processes().size() == 2; }));
  const std::vector<int> before = web_processes();

  g_events.clear();
  g_payloads.clear();
  const int32_t second = TEVBrowser_CreateBrowser(url.c_str());
  TEVBrowser_SetSize(second, 320, 200, 1.0f);
  ASSERT_TRUE(FrameShows(second, 320, 200, 0xFF090807));
  ASSERT_TRUE(PumpUntil(second, [&] { return Loaded(); }));
  const auto loading = std::find_if(g_payloads.begin(), g_payloads.end(),
                                    [](const auto& p) { return p.first == LoadingStateChanged; });
  ASSERT_NE(loading, g_payloads.end());
  EXPECT_EQ(loading->second, "{\"isLoading\":true,\"canGoBack\":false,\"canGoForward\":false}");
  // A swap would end the warm process or keep it aside as a third one
  // beside the next warm view.
  PumpUntil(second, [] { return false; }, 1);
  EXPECT_EQ(StillRunning(before), before.size());
  EXPECT_EQ(web_processes().size(), 3u);
}

TEST_F(Engine, AViewTooLargeForTheFrameBufferIsRefusedAndRequestsGoOn) {
  testing::internal::CaptureStderr();  // before the start, so the program writes there too
  ASSERT_TRUE(Start());
  const int32_t h = TEVBrowser_CreateBrowser(Solid("rgb(1,2,3)").c_str());
  TEVBrowser_SetSize(h, 320, 200, 1.0f);
  ASSERT_TRUE(FrameShows(h, 320, 200, 0xFF010203));
  TEVBrowser_SetSize(h, 20000, 20000, 1.0f);
  TEVBrowser_SetSize(h, 2147483647, 1, 1.0f);
  TEVBrowser_SetSize(h, 400, 300, 1.0f);
  const bool served = FrameShows(h, 400, 300, 0xFF010203);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(served);
  EXPECT_NE(err.find("CLIENT SetSize: A view of 20000x20000 at scale 1 does not fit the frame buffer\n"),
            std::string::npos) << err;
  EXPECT_NE(err.find("CLIENT SetSize: A view of 2147483647x1 at scale 1 does not fit the frame buffer\n"),
            std::string::npos) << err;
  const int program = OurBrowserProcess();
  ASSERT_GT(program, 0);
  EXPECT_LT(Resident(program), std::size_t{1} << 30);
  EXPECT_TRUE(TEVBrowser_ConnectionValid());
}

}  // namespace
