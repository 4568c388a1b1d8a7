#pragma once
// Text conversions. Every conversion stops at the first zero character of its input.

#include <QString>

#include <string>
#include <string_view>

namespace framework {

// UTF-8 <-> UTF-16 (the operator interface's texts).
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
QString Utf8ToQString(std::string_view utf8);
std::string QStringToUtf8(const QString& text);

// Multibyte text of the current C locale <-> wide text. Bytes that the locale cannot convert
// become U+FFFD (wide) or '?' (narrow); nothing throws.
std::wstring NarrowToWide(std::string_view narrow);
std::string WideToNarrow(std::wstring_view wide);

// Wide text <-> QString (wchar_t is UTF-32 here).
QString WideToQString(std::wstring_view wide);
std::wstring QStringToWide(const QString& text);

} // namespace framework
