// Prints the length in UTF-16 units of TEV_GetExecutablePath() and the path.
#include <cstdio>
#include <string>

#include "tevnative.h"

int main() {
  TEV_Char* path = TEV_GetExecutablePath();
  if (path == nullptr) return 1;
  std::size_t length = 0;
  std::string ascii;
  for (; path[length] != 0; ++length) ascii += path[length] < 0x80 ? static_cast<char>(path[length]) : '?';
  std::printf("%zu %s", length, ascii.c_str());
  TEV_Free(path);
  return 0;
}
