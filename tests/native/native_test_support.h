#pragma once
// Small helpers for driving tevnative from tests.
#include <string>
#include <vector>

#include "tevnative.h"

namespace tev_test {

// Runs TEV_CreateProcess with UTF-8 arguments.
inline TEV_ProcessRecord* Spawn(const std::vector<std::string>& args, TEV_ProcessFlags flags,
                                const std::string& cwd = "") {
  std::vector<std::u16string> wide;
  for (const auto& a : args) wide.emplace_back(a.begin(), a.end());  // tests use ASCII
  std::vector<const TEV_Char*> pointers;
  for (const auto& w : wide) pointers.push_back(w.c_str());
  const std::u16string dir(cwd.begin(), cwd.end());
  const TEV_Char* none[1] = {nullptr};  // an empty list is still an array
  return TEV_CreateProcess(pointers.empty() ? none : pointers.data(), pointers.size(), dir.c_str(), flags);
}

// A read turned into a std::string of every byte before the terminator the
// caller cannot see past, plus the raw copy for length checks.
inline std::string Take(char* copy, std::size_t known_size = std::string::npos) {
  std::string text = known_size == std::string::npos ? std::string(copy) : std::string(copy, known_size);
  TEV_Free(copy);
  return text;
}

}  // namespace tev_test
