#include "mime_extensions.h"

#include <fstream>
#include <map>

namespace engine::webkit {

// GIO answers the reverse question only, so the shared-MIME globs are read
// once.
std::string MimeExtensions(const std::string& mime) {
  static const std::map<std::string, std::string> table = [] {
    std::map<std::string, std::string> globs;
    std::ifstream in("/usr/share/mime/globs2");
    std::string line;
    while (std::getline(in, line)) {
      // weight:type:pattern[:flags]
      if (line.empty() || line[0] == '#') continue;
      const auto first = line.find(':');
      const auto second = first == std::string::npos ? first : line.find(':', first + 1);
      if (second == std::string::npos) continue;
      const std::string type = line.substr(first + 1, second - first - 1);
      std::string pattern = line.substr(second + 1);
      pattern = pattern.substr(0, pattern.find(':'));
      if (pattern.rfind("*.", 0) != 0 || pattern.find_first_of("*?[", 2) != std::string::npos) continue;
      std::string& joined = globs[type];
      const std::string extension = pattern.substr(1);
      if ((";" + joined + ";").find(";" + extension + ";") != std::string::npos) continue;
      joined += (joined.empty() ? "" : ";") + extension;
    }
    return globs;
  }();
  const auto it = table.find(mime);
  return it == table.end() ? "" : it->second;
}


}  // namespace engine::webkit
