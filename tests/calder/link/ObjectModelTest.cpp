// Wide-text formatting and the object arrays.

#include "calder/ObjectModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

TEST(ObjectModel, CStringFormatTakesWideTextsAndGrowsItsBuffer) {
    const CString longText(1000, L'x');
    struct Case {
        const char* name;
        std::function<CString()> format;
        CString expected;
    };
    const std::vector<Case> cases = {
        {"double", [] { return CStringFormat(L"ProbeRad.=%f ", 0.5); }, L"ProbeRad.=0.500000 "},
        {"wide %s", [] { return CStringFormat(L"Object <%s>", L"Kamera 1"); }, L"Object <Kamera 1>"},
        {"wide %ls stays", [] { return CStringFormat(L"%ls|%s", L"a", L"b"); }, L"a|b"},
        {"width and char", [] { return CStringFormat(L"[%5s][%c]", L"ab", L'Z'); }, L"[   ab][Z]"},
        {"narrow %S", [] { return CStringFormat(L"%S", "narrow"); }, L"narrow"},
        {"percent and int", [] { return CStringFormat(L"%d%% done", 42); }, L"42% done"},
        {"non-ASCII", [] { return CStringFormat(L"%s %s", L"Grüße", L"\U0001F600"); }, L"Grüße \U0001F600"},
        {"longer than the first buffer", [&] { return CStringFormat(L"<%s>", longText.c_str()); },
         L"<" + longText + L">"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.format(), c.expected);
    }
}

TEST(ObjectModel, ArraysKeepOrderAndOwnershipRules) {
    CStringArray texts;
    EXPECT_TRUE(texts.IsEmpty());
    EXPECT_EQ(texts.Add(L"a"), 0);
    EXPECT_EQ(texts.Add(L"b"), 1);
    EXPECT_EQ(texts.GetAt(1), L"b");
    EXPECT_THROW(texts.GetAt(2), std::out_of_range);

    static int alive = 0;
    struct Counted : CObject {
        Counted() { ++alive; }
        ~Counted() override { --alive; }
    };
    {
        CalderObArray<Counted> owned;
        EXPECT_EQ(owned.Add(new Counted), 0);
        EXPECT_EQ(owned.Add(nullptr), -1);
        EXPECT_EQ(owned.Add(new Counted), 1);
        EXPECT_EQ(owned.GetSize(), 2);
        EXPECT_EQ(alive, 2);
    }
    EXPECT_EQ(alive, 0);

    // A CObArray does not own what it holds.
    Counted kept;
    {
        CObArray borrowed;
        borrowed.Add(&kept);
        EXPECT_EQ(borrowed.GetAt(0), &kept);
    }
    EXPECT_EQ(alive, 1);
    EXPECT_STREQ(kept.GetRuntimeClassName(), "CObject");
}

} // namespace
