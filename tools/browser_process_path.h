#pragma once
// Where the tools find browser_process: beside themselves in a build tree,
// in ../libexec/tev once installed.
#include <filesystem>
#include <string>

inline std::string BrowserProcessPath() {
  const auto here = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  const auto beside = here / "browser_process";
  return std::filesystem::exists(beside) ? beside.string() : (here.parent_path() / "libexec/tev/browser_process").string();
}
