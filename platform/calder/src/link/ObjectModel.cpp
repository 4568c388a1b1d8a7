// The object model: CObject, the text and pointer arrays and wide-text formatting.

#include "calder/ObjectModel.h"

#include <spdlog/spdlog.h>

#include <cstdarg>
#include <cwchar>

const char* CObject::GetRuntimeClassName() const {
    return "CObject";
}

CObject::~CObject() = default;

void CObject::Serialize(CArchive&) {}

std::ptrdiff_t CStringArray::Add(const CString& text) {
    items_.push_back(text);
    return static_cast<std::ptrdiff_t>(items_.size()) - 1;
}

std::ptrdiff_t CObArray::Add(CObject* object) {
    items_.push_back(object);
    return static_cast<std::ptrdiff_t>(items_.size()) - 1;
}

namespace {

// The library's formats follow the wide-text convention in which "%s" and "%c" take wide
// arguments; the C library's wide printf takes narrow ones there. Rewrites each plain %s / %c
// into %ls / %lc, and %S / %C (the narrow forms of that convention) into %s / %c.
std::wstring TranslateFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out.push_back(*p);
        if (*p != L'%')
            continue;
        ++p;
        if (*p == L'%') {
            out.push_back(*p);
            continue;
        }
        // Flags, width, precision.
        while (*p != L'\0' && std::wcschr(L"-+ #0123456789.*'$", *p) != nullptr)
            out.push_back(*p++);
        // Length modifiers.
        bool hasLength = false;
        while (*p != L'\0' && std::wcschr(L"hlLqjzt", *p) != nullptr) {
            out.push_back(*p++);
            hasLength = true;
        }
        if (*p == L'\0')
            break;
        if (!hasLength && (*p == L's' || *p == L'c'))
            out.push_back(L'l');
        if (!hasLength && *p == L'S')
            out.push_back(L's');
        else if (!hasLength && *p == L'C')
            out.push_back(L'c');
        else
            out.push_back(*p);
    }
    return out;
}

} // namespace

CString CStringFormat(const wchar_t* format, ...) {
    if (format == nullptr)
        return {};
    const std::wstring translated = TranslateFormat(format);
    // vswprintf reports "too small" and "cannot convert" alike; the cap ends the growth when
    // the real cause is a conversion error.
    constexpr std::size_t kMaxChars = std::size_t{16} << 20;
    std::wstring buffer(256, L'\0');
    while (true) {
        va_list args;
        va_start(args, format);
        const int written = std::vswprintf(buffer.data(), buffer.size(), translated.c_str(), args);
        va_end(args);
        if (written >= 0 && static_cast<std::size_t>(written) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(written));
            return buffer;
        }
        if (buffer.size() >= kMaxChars) {
            spdlog::warn("CStringFormat: the format could not be applied");
            return {};
        }
        buffer.assign(buffer.size() * 2, L'\0');
    }
}
