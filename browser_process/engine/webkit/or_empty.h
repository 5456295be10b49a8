#pragma once
// The engine hands out texts as C strings that may be null.
#include <string>

namespace engine::webkit {

inline std::string OrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace engine::webkit
