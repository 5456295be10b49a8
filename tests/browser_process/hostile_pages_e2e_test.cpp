// Pages that try to freeze the application, write files, outlive the host's
// navigation or take all the memory, each served from a loopback HTTP server
// and checked through libTEVBrowser.so: one row per page and what the host
// must see.
#include <algorithm>
#include <cstring>

#include "engine_fixture.h"

namespace {

using namespace tev_e2e;

bool SawScript(const std::string& line) { return std::find(g_scripts.begin(), g_scripts.end(), line) != g_scripts.end(); }
std::size_t Count(int code) { return static_cast<std::size_t>(std::count(g_events.begin(), g_events.end(), code)); }

// Every file below `dir` whose name is one of `names`.
std::vector<std::string> FilesNamed(const std::filesystem::path& dir, const std::vector<std::string>& names) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(dir, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().filename();
    if (std::find(names.begin(), names.end(), name) != names.end()) found.push_back(it->path());
  }
  return found;
}

// The web-process memory limit the memory row sets: the default (a quarter
// of physical memory, up to 4 GiB) would take a page on this machine longer
// to reach than the row may wait.
constexpr std::size_t kMemoryLimitMiB = 768;

class HostilePage;

struct Row {
  const char* name;
  const char* file;  // served as /FILE
  const char* page;
  void (*check)(HostilePage& test);
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class HostilePage : public Engine, public testing::WithParamInterface<Row> {
 protected:
  void SetUp() override {
    Engine::SetUp();
    dir_ = std::filesystem::temp_directory_path() / ("tev_hostile_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "site");
    std::filesystem::create_directories(dir_ / "home");
    std::ofstream(dir_ / "site" / GetParam().file) << GetParam().page;
    std::ofstream(dir_ / "site" / "arrived.html") << "<body style='margin:0;background:rgb(0,128,0)'>"
                                                     "<script>_tev_event(2, 'arrived')</script></body>";
    std::ofstream(dir_ / "site" / "blob.bin") << std::string(100000, 'x');
    server_ = std::make_unique<HttpServer>((dir_ / "site").string());
    // The engine's default download folder is under HOME.
    if (const char* home = std::getenv("HOME")) saved_home_ = home;
    setenv("HOME", (dir_ / "home").c_str(), 1);
  }
  void TearDown() override {
    Engine::TearDown();
    server_.reset();
    if (saved_home_.empty()) {
      unsetenv("HOME");
    } else {
      setenv("HOME", saved_home_.c_str(), 1);
    }
    std::filesystem::remove_all(dir_);
  }

 public:
  using Engine::FrameShows;
  using Engine::Pixel;
  using Engine::PumpUntil;
  using Engine::Render;
  std::string Url(const std::string& file) const {
    return "http://127.0.0.1:" + std::to_string(server_->port()) + "/" + file;
  }
  // Starts with `cache_path` and opens the row's page at 320x200.
  int32_t Open(const std::string& cache_path = "") {
    if (!TEVBrowser_Initialize(Program().c_str(), "", "", "", "", cache_path.c_str(), nullptr, "", false)) return 0;
    const int32_t h = TEVBrowser_CreateBrowser(Url(GetParam().file).c_str());
    TEVBrowser_SetSize(h, 320, 200, 1.0f);
    return h;
  }
  // Waits until the program of the last Shutdown has exited.
  void WaitForExit() {
    const auto give_up = Clock::now() + std::chrono::seconds(10);
    while (OurBrowserProcess() > 0 && Clock::now() < give_up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  static const Row kRows[];
  std::filesystem::path dir_;
  std::unique_ptr<HttpServer> server_;
  std::string saved_home_;
};

// A button over the whole page; its handler prints, then carries on.
void PrintingNeverBlocks(HostilePage& t) {
  const int32_t h = t.Open();
  ASSERT_TRUE(t.PumpUntil(h, [] { return SawScript("1 ready"); }));
  TEVBrowser_SendMouseClickEvent(h, 160, 100, 0, false, 1, 0);
  TEVBrowser_SendMouseClickEvent(h, 160, 100, 0, true, 1, 0);
  auto slowest = Clock::duration::zero();
  const auto until = Clock::now() + std::chrono::seconds(3);
  while (Clock::now() < until) {
    const auto before = Clock::now();
    TEVBrowser_ProcessEvents(OnConsole, OnEvent, OnScript);
    slowest = std::max(slowest, Clock::now() - before);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_LT(slowest, std::chrono::seconds(1));
  EXPECT_TRUE(SawScript("1 after print"));
  EXPECT_TRUE(TEVBrowser_ConnectionValid());
}

// A link with the download attribute, clicked by the page itself.
void DownloadsWriteNothing(HostilePage& t) {
  testing::internal::CaptureStderr();
  const int32_t h = t.Open();
  const bool clicked = t.PumpUntil(h, [] { return SawScript("1 clicked"); });
  t.PumpUntil(h, [] { return false; }, 2);  // time for a download to land
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(clicked);
  EXPECT_NE(err.find("CLIENT: Download cancelled: " + t.Url("blob.bin") + "\n"), std::string::npos) << err;
  const std::vector<std::string> names{"saved.bin", "blob.bin", "saved.bin.wkdownload", "blob.bin.wkdownload"};
  EXPECT_EQ(FilesNamed(t.dir_ / "home", names), std::vector<std::string>{});
  EXPECT_EQ(FilesNamed(std::filesystem::current_path(), names), std::vector<std::string>{});
  // The view goes on loading pages.
  TEVBrowser_GoToURL(h, t.Url("arrived.html").c_str(), false);
  EXPECT_TRUE(t.FrameShows(h, 320, 200, 0xFF008000));
}

// The host falls back to another page in the very pass that reported the
// failure: its page loads, not the engine's error page.
int32_t g_fallback_handle = 0;
std::string g_fallback_url;
void FallBackOnFailure(int32_t handle, int32_t code, const char* data) {
  OnEvent(handle, code, data);
  if (code == LoadFailed && handle == g_fallback_handle) TEVBrowser_GoToURL(handle, g_fallback_url.c_str(), false);
}
void TheHostsNavigationWinsOverAnErrorPage(HostilePage& t) {
  ASSERT_TRUE(TEVBrowser_Initialize(Program().c_str(), "", "", "", "", "", nullptr, "", false));
  const std::string closed = "http://127.0.0.1:" + std::to_string(HttpServer::FreePort()) + "/";
  g_fallback_url = t.Url("arrived.html");
  g_fallback_handle = TEVBrowser_CreateBrowser(closed.c_str());
  TEVBrowser_SetSize(g_fallback_handle, 320, 200, 1.0f);
  EXPECT_TRUE(t.PumpUntil(g_fallback_handle, [] { return SawScript("2 arrived"); }, 20, FallBackOnFailure));
  EXPECT_EQ(Count(LoadFailed), 1u);
  // And it stays: no late error page replaces it.
  t.PumpUntil(g_fallback_handle, [] { return false; }, 1, FallBackOnFailure);
  EXPECT_TRUE(t.FrameShows(g_fallback_handle, 320, 200, 0xFF008000, 5));
  const auto last_address = std::find_if(g_payloads.rbegin(), g_payloads.rend(),
                                         [](const auto& p) { return p.first == AddressChanged; });
  ASSERT_NE(last_address, g_payloads.rend());
  EXPECT_EQ(last_address->second, "{\"url\":\"" + g_fallback_url + "\"}");
}

// Cookies set in one run, read in the next on the same cache path.
void PersistentCookiesComeBack(HostilePage& t) {
  // The page's report of the cookies it found, before it sets them again.
  auto report = [] {
    return std::find_if(g_scripts.begin(), g_scripts.end(), [](const std::string& s) { return s.rfind("3 ", 0) == 0; });
  };
  const std::string cache = (t.dir_ / "cache").string();
  int32_t h = t.Open(cache);
  ASSERT_TRUE(t.PumpUntil(h, [&] { return report() != g_scripts.end(); }));
  TEVBrowser_Shutdown();
  t.WaitForExit();
  g_scripts.clear();
  h = t.Open(cache);
  ASSERT_TRUE(t.PumpUntil(h, [&] { return report() != g_scripts.end(); }));
  EXPECT_EQ(*report(), "3 kept=yes");
}

// A page whose script never ends; the host navigates away.
void AStuckPageCanBeLeft(HostilePage& t) {
  const int32_t h = t.Open();
  ASSERT_TRUE(t.PumpUntil(h, [] { return SawScript("1 spinning"); }));
  t.PumpUntil(h, [] { return false; }, 1);  // the script spins by now
  const auto asked = Clock::now();
  TEVBrowser_GoToURL(h, t.Url("arrived.html").c_str(), false);
  EXPECT_TRUE(t.PumpUntil(h, [] { return SawScript("2 arrived"); }, 20));
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(6));
  EXPECT_EQ(Count(RenderProcessTerminated), 1u);
}

// A page that allocates without end, beside a page that animates.
void MemoryHasALimit(HostilePage& t) {
  setenv("TEV_WEB_PROCESS_MEMORY_LIMIT_MIB", std::to_string(kMemoryLimitMiB).c_str(), 1);
  const int32_t eater = t.Open();
  unsetenv("TEV_WEB_PROCESS_MEMORY_LIMIT_MIB");
  const int32_t other = TEVBrowser_CreateBrowser(
      "data:text/html,<body style='margin:0'><script>let n=0;(function f(){document.body.style.background="
      "'rgb(0,0,'+(n++%2?200:100)+')';setTimeout(f,30)})()</script></body>");
  TEVBrowser_SetSize(other, 64, 64, 1.0f);
  const int program = OurBrowserProcess();
  ASSERT_GT(program, 0);
  const std::size_t limit = kMemoryLimitMiB << 20;
  std::size_t largest = 0;
  const auto give_up = Clock::now() + std::chrono::seconds(20);
  while (Count(RenderProcessTerminated) == 0 && Clock::now() < give_up) {
    TEVBrowser_ProcessEvents(OnConsole, OnEvent, OnScript);
    t.Render(eater);
    for (int pid : Tree(program)) largest = std::max(largest, Resident(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(Count(RenderProcessTerminated), 1u) << "largest process " << (largest >> 20) << " MiB";
  EXPECT_LE(largest, limit + limit / 10) << (largest >> 20) << " MiB against a limit of " << (limit >> 20) << " MiB";
  // Only the eater's process ended: the other page still paints, both colours.
  std::set<std::uint32_t> colours;
  EXPECT_TRUE(t.PumpUntil(other, [&] {
    colours.insert(t.Pixel(32, 32));
    return colours.count(0xFF0000C8) && colours.count(0xFF000064);
  }, 10));
  TEVBrowser_GoToURL(eater, t.Url("arrived.html").c_str(), false);
  EXPECT_TRUE(t.FrameShows(eater, 320, 200, 0xFF008000));
}

const Row HostilePage::kRows[] = {
    {"Print", "print.html",
     "<body style='margin:0'><button style='width:100%;height:200px' onclick=\"window.print();"
     "_tev_event(1, 'after print')\">print</button><script>_tev_event(1, 'ready')</script></body>",
     PrintingNeverBlocks},
    {"Download", "download.html",
     "<body><a id=a href='/blob.bin' download='saved.bin'>get</a>"
     "<script>document.getElementById('a').click(); _tev_event(1, 'clicked')</script></body>",
     DownloadsWriteNothing},
    {"NavigationAfterAFailedLoad", "unused.html", "", TheHostsNavigationWinsOverAnErrorPage},
    {"Cookies", "cookies.html",
     "<script>_tev_event(3, 'kept=' + (document.cookie.includes('kept=1') ? 'yes' : 'no') + "
     "(document.cookie.includes('session=1') ? ' session too' : ''));"
     "document.cookie = 'kept=1; max-age=86400; path=/'; document.cookie = 'session=1; path=/';</script>",
     PersistentCookiesComeBack},
    {"ScriptThatNeverEnds", "spin.html",
     "<script>_tev_event(1, 'spinning'); setTimeout(() => { for (;;) {} }, 50)</script>", AStuckPageCanBeLeft},
    {"MemoryWithoutEnd", "eat.html",
     "<script>const kept = []; (function eat() { const a = new Uint8Array(32 << 20); a.fill(1); kept.push(a);"
     " setTimeout(eat, 50) })()</script>",
     MemoryHasALimit},
};

TEST_P(HostilePage, TheApplicationStaysInCharge) { GetParam().check(*this); }

INSTANTIATE_TEST_SUITE_P(Pages, HostilePage, testing::ValuesIn(HostilePage::kRows),
                         [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
