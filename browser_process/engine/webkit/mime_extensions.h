#pragma once
// The file extensions the system's MIME database lists for a type.
#include <string>

namespace engine::webkit {

// Each extension with its dot, joined by ';' (".jpg;.jpeg;.jpe"); empty for
// a type the database does not know.
std::string MimeExtensions(const std::string& mime);

}  // namespace engine::webkit
