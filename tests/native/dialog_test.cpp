// The file dialogs, shown for real on a private X server and answered the
// way a person would, with xdotool.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tevnative.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }  // tests use ASCII paths
std::string Narrow(const TEV_Char* s) {
  std::string out;
  for (; s != nullptr && *s; ++s) out += static_cast<char>(*s);
  return out;
}

// Runs a shell command; true when it exits 0.
bool Sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// Waits for the dialog titled `title`, focuses it and carries out `steps` on
// a thread of its own while the dialog runs here. A step is an xdotool
// command, "sleep S", an ImageMagick "import ...", or "corner DX DY": a click
// DX, DY pixels left of and above the window's bottom-right corner.
class Person {
 public:
  Person(std::string title, std::vector<std::string> steps) {
    thread_ = std::thread([title, steps] {
      // Only a mapped window can take the focus.
      const std::string find = "timeout 15 xdotool search --sync --onlyvisible --name '^" + title + "$' | head -n1";
      std::string window;
      if (FILE* p = popen(find.c_str(), "r")) {
        char line[64] = {};
        if (fgets(line, sizeof line, p)) window = line;
        pclose(p);
      }
      window.erase(window.find_last_not_of("\n ") + 1);
      if (window.empty()) return;
      // A dialog just shown may drop the first keys; if it is still open
      // after the steps, they are carried out again.
      for (int attempt = 0; attempt < 3; ++attempt) {
        // A window just mapped may not take the focus yet (BadMatch): try again.
        for (int tries = 0; tries < 25 && !Sh("xdotool windowfocus --sync " + window + " 2>/dev/null"); ++tries) {
          std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        for (const auto& step : steps) {
          if (step.rfind("corner ", 0) == 0) {
            std::istringstream offsets(step.substr(7));
            int dx = 0, dy = 0;
            offsets >> dx >> dy;
            Sh("eval $(xdotool getwindowgeometry --shell " + window + ") && xdotool mousemove --window " + window +
               " $((WIDTH-" + std::to_string(dx) + ")) $((HEIGHT-" + std::to_string(dy) + ")) click 1");
          } else {
            Sh(step.rfind("sleep", 0) == 0 || step.rfind("import", 0) == 0 ? step : "xdotool " + step);
          }
          std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        for (int wait = 0; wait < 30; ++wait) {
          if (!Sh("xdotool search --onlyvisible --name '^" + title + "$' > /dev/null 2>&1")) return;
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
      }
    });
  }
  ~Person() { thread_.join(); }

 private:
  std::thread thread_;
};

class FileDialogs : public testing::Test {
 protected:
  void SetUp() override {
    // A private X server on a free display; the number comes back on a pipe.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {"Xvfb", "-displayfd", "3", "-screen", "0", "1600x1200x24", "-nolisten", "tcp", nullptr};
    ASSERT_EQ(posix_spawnp(&xvfb_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    // The number and its line feed come in two writes, and the server ends
    // if its reader is gone before the second: read the whole line.
    char number[16] = {};
    for (std::size_t got = 0; got < sizeof number - 1 && !std::memchr(number, '\n', got);) {
      const ssize_t n = read(fds[0], number + got, sizeof number - 1 - got);
      ASSERT_GT(n, 0);
      got += static_cast<std::size_t>(n);
    }
    close(fds[0]);
    setenv("DISPLAY", (":" + std::string(number, strcspn(number, "\n"))).c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);  // no settings daemon here
    setenv("NO_AT_BRIDGE", "1", 1);
    ASSERT_EQ(TEV_Initialize(), 1);

    dir_ = fs::temp_directory_path() / ("tev_dialogs_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "pictures");
    fs::create_directories(dir_ / "out");
    for (const char* name : {"a.png", "b.png", "c.png"}) std::ofstream(dir_ / "pictures" / name) << "x";
    std::ofstream(dir_ / "pictures" / "notes.txt") << "x";
  }
  void TearDown() override {
    TEV_Shutdown();
    fs::remove_all(dir_);
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      waitpid(xvfb_, nullptr, 0);
    }
  }

  std::string Dir(const std::string& sub = "") const { return (dir_ / sub).string(); }

  pid_t xvfb_ = 0;
  fs::path dir_;
  const TEV_FilterItem filters_[2] = {{u"Images", u"png,jpg"}, {u"Text", u"txt"}};
  TEV_Char* const untouched_ = reinterpret_cast<TEV_Char*>(0x77);
};

TEST_F(FileDialogs, OpenReturnsTheChosenFile) {
  const std::u16string start = Wide(Dir("pictures"));
  TEV_Char* path = untouched_;
  int result;
  {
    Person person("Open File", {"key ctrl+l", "sleep 0.4", "type --delay 10 '" + Dir("pictures/b.png") + "'", "key Return"});
    result = TEV_OpenFileDialog(&path, filters_, 2, start.c_str());
  }
  ASSERT_EQ(result, TEV_DIALOG_OKAY);
  EXPECT_EQ(Narrow(path), Dir("pictures/b.png"));
  TEV_Free(path);
}

TEST_F(FileDialogs, OpenShowsTheCallersFiltersThenAllFiles) {
  // The filter list opened and photographed, then the dialog cancelled.
  const std::string shot = std::string(TEV_TEST_OUTPUT_DIR) + "/open_dialog_filters.png";
  fs::remove(shot);
  const std::u16string start = Wide(Dir("pictures"));
  TEV_Char* path = untouched_;
  int result;
  {
    Person person("Open File", {"corner 94 70", "sleep 0.8", "import -window root '" + shot + "'",
                                "key Escape", "sleep 0.3", "key Escape"});
    result = TEV_OpenFileDialog(&path, filters_, 2, start.c_str());
  }
  EXPECT_EQ(result, TEV_DIALOG_CANCEL);
  EXPECT_EQ(path, untouched_);
  EXPECT_TRUE(fs::exists(shot));
}

TEST_F(FileDialogs, OpenSeveralReturnsThreeFilesInOrderAndFreesThem) {
  fs::remove(dir_ / "pictures" / "notes.txt");
  const std::u16string start = Wide(Dir("pictures"));
  TEV_PathSet set{77, reinterpret_cast<TEV_Char**>(0x1), reinterpret_cast<void*>(0x2)};
  int result;
  {
    Person person("Open Files", {"sleep 0.3", "key ctrl+a", "sleep 0.3", "key Return"});
    result = TEV_OpenFileDialogMultiple(&set, filters_, 2, start.c_str());
  }
  ASSERT_EQ(result, TEV_DIALOG_OKAY);
  ASSERT_EQ(set.count, 3u);
  EXPECT_EQ(Narrow(set.paths[0]), Dir("pictures/a.png"));
  EXPECT_EQ(Narrow(set.paths[1]), Dir("pictures/b.png"));
  EXPECT_EQ(Narrow(set.paths[2]), Dir("pictures/c.png"));
  EXPECT_NE(set.items, nullptr);
  TEV_FreePathSet(&set);  // the leak checker sees whether everything went
}

TEST_F(FileDialogs, SaveProposesTheNameAndAddsTheDefaultExtension) {
  const std::u16string start = Wide(Dir("out"));
  const struct {
    const char* what;
    bool filters;
    std::vector<std::string> steps;
    std::string expected;
  } cases[] = {
      {"proposed name accepted", true, {"key Return"}, "out/proposed.png"},
      {"typed name without extension", true, {"key ctrl+a", "type typed", "key Return"}, "out/typed.png"},
      {"typed name with extension", true, {"key ctrl+a", "type notes.txt", "key Return"}, "out/notes.txt"},
      {"no filters: no default extension", false, {"key ctrl+a", "type plain", "key Return"}, "out/plain"},
  };
  for (const auto& c : cases) {
    TEV_Char* path = untouched_;
    int result;
    {
      Person person("Save File", c.steps);
      result = TEV_SaveFileDialog(&path, c.filters ? filters_ : nullptr, c.filters ? 2 : 0, start.c_str(),
                                  u"proposed.png");
    }
    ASSERT_EQ(result, TEV_DIALOG_OKAY) << c.what;
    EXPECT_EQ(Narrow(path), Dir(c.expected)) << c.what;
    TEV_Free(path);
  }
}

TEST_F(FileDialogs, PickFolderReturnsTheFolder) {
  const std::u16string start = Wide(Dir());
  TEV_Char* path = untouched_;
  int result;
  {
    Person person("Select Folder", {"key ctrl+l", "sleep 0.4", "type --delay 10 '" + Dir("pictures") + "'", "key Return"});
    result = TEV_PickFolder(&path, start.c_str());
  }
  ASSERT_EQ(result, TEV_DIALOG_OKAY);
  EXPECT_EQ(Narrow(path), Dir("pictures"));
  TEV_Free(path);
}

TEST_F(FileDialogs, CancelInEveryDialogLeavesTheOutputs) {
  const std::u16string start = Wide(Dir("pictures"));
  const struct {
    const char* title;
    std::function<int(TEV_Char**)> show;
  } dialogs[] = {
      {"Open File", [&](TEV_Char** p) { return TEV_OpenFileDialog(p, filters_, 2, start.c_str()); }},
      {"Save File", [&](TEV_Char** p) { return TEV_SaveFileDialog(p, filters_, 2, start.c_str(), u"x.png"); }},
      {"Select Folder", [&](TEV_Char** p) { return TEV_PickFolder(p, start.c_str()); }},
  };
  for (const auto& d : dialogs) {
    TEV_Char* path = untouched_;
    int result;
    {
      Person person(d.title, {"key Escape"});
      result = d.show(&path);
    }
    EXPECT_EQ(result, TEV_DIALOG_CANCEL) << d.title;
    EXPECT_EQ(path, untouched_) << d.title;
  }
  TEV_PathSet set{5, nullptr, nullptr};
  int result;
  {
    Person person("Open Files", {"key Escape"});
    result = TEV_OpenFileDialogMultiple(&set, filters_, 2, start.c_str());
  }
  EXPECT_EQ(result, TEV_DIALOG_CANCEL);
  EXPECT_EQ(set.count, 5u);
  EXPECT_EQ(set.paths, nullptr);
}

TEST_F(FileDialogs, ADefaultFolderThatDoesNotExistIsIgnored) {
  TEV_Char* path = untouched_;
  int result;
  {
    Person person("Open File", {"key ctrl+l", "sleep 0.4", "type --delay 10 '" + Dir("pictures/a.png") + "'", "key Return"});
    result = TEV_OpenFileDialog(&path, nullptr, 0, u"/nonexistent/folder");
  }
  ASSERT_EQ(result, TEV_DIALOG_OKAY);
  EXPECT_EQ(Narrow(path), Dir("pictures/a.png"));
  TEV_Free(path);
}

TEST(FileDialogsWithoutDisplay, InitializeFailsAndDialogsReportAnError) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  TEV_Shutdown();  // without Initialize: nothing
  TEV_Char* path = reinterpret_cast<TEV_Char*>(0x77);
  EXPECT_EQ(TEV_OpenFileDialog(&path, nullptr, 0, nullptr), TEV_DIALOG_ERROR);  // not initialised
  EXPECT_EQ(TEV_Initialize(), 0);
  EXPECT_EQ(TEV_OpenFileDialog(&path, nullptr, 0, nullptr), TEV_DIALOG_ERROR);
  EXPECT_EQ(TEV_PickFolder(&path, nullptr), TEV_DIALOG_ERROR);
  EXPECT_EQ(path, reinterpret_cast<TEV_Char*>(0x77));
  TEV_PathSet set{};
  TEV_FreePathSet(&set);  // an empty set: nothing to release
}

}  // namespace
