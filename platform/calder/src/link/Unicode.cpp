#include "link/Unicode.h"

namespace calder::unicode {

void WideToUtf8(std::wstring_view wide, std::string& out) {
    out.clear();
    const auto zero = wide.find(L'\0');
    if (zero != std::wstring_view::npos)
        wide = wide.substr(0, zero);
    out.reserve(wide.size());
    for (const wchar_t w : wide) {
        char32_t c = static_cast<char32_t>(w);
        if (!IsScalarValue(c))
            c = kReplacement;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
}

std::wstring Utf8ToWide(std::string_view utf8) {
    const auto zero = utf8.find('\0');
    if (zero != std::string_view::npos)
        utf8 = utf8.substr(0, zero);
    std::wstring out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const auto b0 = static_cast<unsigned char>(utf8[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<wchar_t>(b0));
            ++i;
            continue;
        }
        // Lead byte: sequence length, its payload bits, and the range its second byte must lie
        // in (which excludes overlong forms, surrogates and values above U+10FFFF).
        std::size_t length = 0;
        char32_t c = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2;
            c = b0 & 0x1F;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3;
            c = b0 & 0x0F;
            low = b0 == 0xE0 ? 0xA0 : 0x80;
            high = b0 == 0xED ? 0x9F : 0xBF;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4;
            c = b0 & 0x07;
            low = b0 == 0xF0 ? 0x90 : 0x80;
            high = b0 == 0xF4 ? 0x8F : 0xBF;
        }
        // The longest valid start of a sequence stands for one replacement character; decoding
        // resumes at the first byte that cannot continue it.
        std::size_t k = 1;
        for (; length != 0 && k < length && i + k < n; ++k) {
            const auto b = static_cast<unsigned char>(utf8[i + k]);
            const unsigned char lo = k == 1 ? low : 0x80;
            const unsigned char hi = k == 1 ? high : 0xBF;
            if (b < lo || b > hi)
                break;
            c = (c << 6) | (b & 0x3F);
        }
        const bool ok = length != 0 && k == length;
        out.push_back(static_cast<wchar_t>(ok ? c : kReplacement));
        i += k;
    }
    return out;
}

std::u16string WideToUtf16(std::wstring_view wide) {
    std::u16string out;
    out.reserve(wide.size());
    for (const wchar_t w : wide) {
        char32_t c = static_cast<char32_t>(w);
        if (!IsScalarValue(c))
            c = kReplacement;
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

std::wstring Utf16ToWide(std::u16string_view utf16) {
    std::wstring out;
    out.reserve(utf16.size());
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t u = utf16[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            const char32_t c =
                0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
            out.push_back(static_cast<wchar_t>(c));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(static_cast<wchar_t>(kReplacement));
        } else {
            out.push_back(static_cast<wchar_t>(u));
        }
    }
    return out;
}

} // namespace calder::unicode
