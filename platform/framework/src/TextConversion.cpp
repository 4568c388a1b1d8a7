#include "framework/TextConversion.h"

#include <climits>
#include <cwchar>

namespace framework {

namespace {

constexpr wchar_t kReplacementWide = L'\xFFFD';
constexpr char kReplacementNarrow = '?';

template <typename Char>
std::basic_string_view<Char> UpToFirstZero(std::basic_string_view<Char> text) {
    const auto zero = text.find(Char{});
    return zero == std::basic_string_view<Char>::npos ? text : text.substr(0, zero);
}

QString Utf16View(std::u16string_view utf16) {
    return QString(reinterpret_cast<const QChar*>(utf16.data()), static_cast<qsizetype>(utf16.size()));
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
    const QString text = Utf8ToQString(utf8);
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
    return QStringToUtf8(Utf16View(UpToFirstZero(utf16)));
}

QString Utf8ToQString(std::string_view utf8) {
    const std::string_view text = UpToFirstZero(utf8);
    // Invalid sequences become U+FFFD.
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string QStringToUtf8(const QString& text) {
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    const QByteArray bytes = (zero < 0 ? text : text.left(zero)).toUtf8();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// Character by character with an explicit conversion state: restartable and thread-safe, and an
// invalid sequence can be replaced and skipped instead of ending the conversion.
std::wstring NarrowToWide(std::string_view narrow) {
    const std::string_view text = UpToFirstZero(narrow);
    std::wstring wide;
    wide.reserve(text.size());
    std::mbstate_t state{};
    std::size_t pos = 0;
    while (pos < text.size()) {
        wchar_t ch = 0;
        const std::size_t used = std::mbrtowc(&ch, text.data() + pos, text.size() - pos, &state);
        if (used == static_cast<std::size_t>(-1)) {
            // Invalid byte: replace it and go on with the next one.
            wide.push_back(kReplacementWide);
            state = std::mbstate_t{};
            ++pos;
        } else if (used == static_cast<std::size_t>(-2)) {
            // The text ends inside a character: each of its bytes is unconvertible.
            wide.append(text.size() - pos, kReplacementWide);
            break;
        } else if (used == 0) {
            break; // cannot happen after the cut, kept for safety
        } else {
            wide.push_back(ch);
            pos += used;
        }
    }
    return wide;
}

std::string WideToNarrow(std::wstring_view wide) {
    const std::wstring_view text = UpToFirstZero(wide);
    std::string narrow;
    narrow.reserve(text.size());
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (const wchar_t ch : text) {
        // Some locales would write values that are no code point (beyond U+10FFFF) as byte
        // sequences that no reader accepts.
        const auto code = static_cast<char32_t>(ch);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            narrow.push_back(kReplacementNarrow);
            continue;
        }
        const std::size_t written = std::wcrtomb(buffer, ch, &state);
        if (written == static_cast<std::size_t>(-1)) {
            narrow.push_back(kReplacementNarrow);
            state = std::mbstate_t{};
        } else {
            narrow.append(buffer, written);
        }
    }
    // Return a state-dependent encoding to its initial shift state.
    const std::size_t tail = std::wcrtomb(buffer, L'\0', &state);
    if (tail != static_cast<std::size_t>(-1) && tail > 1) {
        narrow.append(buffer, tail - 1);
    }
    return narrow;
}

QString WideToQString(std::wstring_view wide) {
    static_assert(sizeof(wchar_t) == sizeof(char32_t), "wide text is UTF-32");
    const std::wstring_view text = UpToFirstZero(wide);
    QString result;
    result.reserve(static_cast<qsizetype>(text.size()));
    for (const wchar_t ch : text) {
        // Values that are no code point (surrogates, beyond U+10FFFF) become U+FFFD.
        const auto code = static_cast<char32_t>(ch);
        const bool valid = code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        const char32_t unit = valid ? code : 0xFFFD;
        if (QChar::requiresSurrogates(unit)) {
            result.append(QChar(QChar::highSurrogate(unit)));
            result.append(QChar(QChar::lowSurrogate(unit)));
        } else {
            result.append(QChar(static_cast<char16_t>(unit)));
        }
    }
    return result;
}

std::wstring QStringToWide(const QString& text) {
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    // Unpaired surrogates become U+FFFD.
    return (zero < 0 ? text : text.left(zero)).toStdWString();
}

} // namespace framework
