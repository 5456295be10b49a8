#pragma once
// Conversions between the library's UTF-16 interface and the UTF-8 the
// system calls take. Malformed input becomes U+FFFD instead of being dropped.
#include <string>
#include <string_view>

namespace tev {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace tev
