#include "framework/TextConversion.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using namespace std::string_view_literals;

// Runs with a UTF-8 C locale, as the programs do on a UTF-8 desktop, and restores the old one.
class TextConversion : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::setlocale(LC_ALL, nullptr);
        oldLocale_ = old != nullptr ? old : "C";
        ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    }
    void TearDown() override { std::setlocale(LC_ALL, oldLocale_.c_str()); }

private:
    std::string oldLocale_;
};

struct TextCase {
    const char* name;
    std::string_view utf8;     // input of the narrow and UTF-8 conversions
    std::wstring_view wide;    // expected wide text
    std::u16string_view utf16; // expected UTF-16 text
    std::string_view back;     // expected narrow text after the way back
};

// The input of every case may hold a zero byte: everything from it on is dropped.
const TextCase kTextCases[] = {
    {"plain", "Orrin 212"sv, L"Orrin 212"sv, u"Orrin 212"sv, "Orrin 212"sv},
    {"empty", ""sv, L""sv, u""sv, ""sv},
    {"zero in the middle", "Group1\0hidden"sv, L"Group1"sv, u"Group1"sv, "Group1"sv},
    {"zero first", "\0abc"sv, L""sv, u""sv, ""sv},
    {"two-byte characters",
     "Gr\xC3\xB6\xC3\x9F"
     "e \xC2\xB5m"sv,
     L"Größe µm"sv, u"Größe µm"sv,
     "Gr\xC3\xB6\xC3\x9F"
     "e \xC2\xB5m"sv},
    {"non-ASCII then zero", "\xC3\xA9t\xC3\xA9\0\xC3\xA9t\xC3\xA9"sv, L"été"sv, u"été"sv,
     "\xC3\xA9t\xC3\xA9"sv},
    {"outside the basic plane", "pt\xF0\x9F\x93\x8D"sv, L"pt\U0001F4CD"sv, u"pt\U0001F4CD"sv,
     "pt\xF0\x9F\x93\x8D"sv},
    {"invalid byte",
     "a\xFF"
     "b"sv,
     L"a\xFFFD"
     L"b"sv,
     u"a\xFFFD"
     u"b"sv,
     "a\xEF\xBF\xBD"
     "b"sv},
    {"text ends inside a character", "ab\xE2\x82"sv, L"ab\xFFFD\xFFFD"sv, u"ab\xFFFD\xFFFD"sv,
     "ab\xEF\xBF\xBD\xEF\xBF\xBD"sv},
    {"lone continuation bytes", "\x80\x80x"sv, L"\xFFFD\xFFFDx"sv, u"\xFFFD\xFFFDx"sv,
     "\xEF\xBF\xBD\xEF\xBF\xBDx"sv},
};

TEST_F(TextConversion, LocaleTextIsCutAtTheFirstZeroAndNeverFails) {
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(c.name);
        const std::wstring wide = framework::NarrowToWide(c.utf8);
        EXPECT_EQ(wide, c.wide);
        EXPECT_EQ(framework::WideToNarrow(wide), c.back);
    }
}

TEST_F(TextConversion, Utf8TextIsCutAtTheFirstZeroAndNeverFails) {
    for (const TextCase& c : kTextCases) {
        SCOPED_TRACE(c.name);
        const std::u16string utf16 = framework::Utf8ToUtf16(c.utf8);
        EXPECT_EQ(utf16, c.utf16);
        EXPECT_EQ(framework::Utf16ToUtf8(utf16), c.back);

        const QString text = framework::Utf8ToQString(c.utf8);
        EXPECT_EQ(text.toStdU16String(), c.utf16);
        EXPECT_EQ(framework::QStringToUtf8(text), c.back);
        EXPECT_EQ(framework::QStringToWide(text), c.wide);
        EXPECT_EQ(framework::WideToQString(c.wide), text);
    }
}

TEST_F(TextConversion, WideAndUtf16InputsAreCutAtTheFirstZero) {
    EXPECT_EQ(framework::WideToNarrow(L"Coll\0ection"sv), "Coll");
    EXPECT_EQ(framework::Utf16ToUtf8(u"Gr\u00F6\0\u00DF"sv), "Gr\xC3\xB6");
    EXPECT_EQ(framework::WideToQString(L"ab\0cd"sv), QStringLiteral("ab"));
    EXPECT_EQ(framework::QStringToUtf8(QString::fromUtf16(u"x\0y", 3)), "x");
    EXPECT_EQ(framework::QStringToWide(QString::fromUtf16(u"\u00B5\0y", 3)), L"\u00B5");
}

TEST_F(TextConversion, UnencodableCharactersAreReplaced) {
    struct Case {
        const char* name;
        std::wstring wide;
        std::string narrow; // through the locale
        std::string utf8;   // through QString
    };
    const Case cases[] = {
        {"lone high surrogate", std::wstring(L"a") + wchar_t(0xD800) + L"b", "a?b",
         "a\xEF\xBF\xBD"
         "b"},
        {"beyond the last code point", std::wstring(L"a") + wchar_t(0x110000) + L"b", "a?b",
         "a\xEF\xBF\xBD"
         "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(framework::WideToNarrow(c.wide), c.narrow);
        EXPECT_EQ(framework::QStringToUtf8(framework::WideToQString(c.wide)), c.utf8);
    }
    // An unpaired UTF-16 surrogate does not stop the conversion either.
    const char16_t lone[] = {u'a', 0xDC00, u'b'};
    const std::string utf8 = framework::Utf16ToUtf8(std::u16string_view(lone, 3));
    EXPECT_EQ(utf8.front(), 'a');
    EXPECT_EQ(utf8.back(), 'b');
}

TEST(TextConversionInTheCLocale, NonAsciiBytesDoNotStopTheConversion) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string oldLocale = old != nullptr ? old : "C";
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    const std::wstring wide = framework::NarrowToWide("a\xC3\xB6z\0tail"sv);
    std::setlocale(LC_ALL, oldLocale.c_str());
    // Each byte gives exactly one character (mapped or replaced); ASCII stays as it is.
    ASSERT_EQ(wide.size(), 4u);
    EXPECT_EQ(wide.front(), L'a');
    EXPECT_EQ(wide.back(), L'z');
}

TEST_F(TextConversion, ConvertsOnManyThreadsAtOnce) {
    const std::string_view input = "Gr\xC3\xB6\xC3\x9F"
                                   "e\xFF\xF0\x9F\x93\x8D mm"sv;
    const std::wstring expected = framework::NarrowToWide(input);
    const std::string expectedBack = framework::WideToNarrow(expected);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::wstring wide = framework::NarrowToWide(input);
                if (wide != expected || framework::WideToNarrow(wide) != expectedBack) {
                    ++mismatches[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

} // namespace
