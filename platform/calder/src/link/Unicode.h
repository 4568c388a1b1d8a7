#pragma once
// Conversions between the library's wide text (UTF-32 in wchar_t) and the encodings it stores
// and sends: UTF-8 on the host link, UTF-16 in archives.

#include <string>
#include <string_view>

namespace calder::unicode {

inline constexpr char32_t kReplacement = 0xFFFD;

// A code point that UTF-8 and UTF-16 can carry (no surrogates, at most U+10FFFF).
constexpr bool IsScalarValue(char32_t c) {
    return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF);
}

// Replaces `out` with the UTF-8 form of `wide` up to its first zero; capacity is kept.
void WideToUtf8(std::wstring_view wide, std::string& out);
// UTF-8 to wide text up to the first zero byte; malformed sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view utf8);

// Wide text to UTF-16 code units (every character, zeros included); characters that UTF-16
// cannot carry become U+FFFD.
std::u16string WideToUtf16(std::wstring_view wide);
// UTF-16 code units to wide text; unpaired surrogates become U+FFFD.
std::wstring Utf16ToWide(std::u16string_view utf16);

} // namespace calder::unicode
