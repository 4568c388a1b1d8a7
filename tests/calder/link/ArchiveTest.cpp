// The archive's byte layout, round trips and its refusal of short or damaged data.

#include "calder/Archive.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

std::string Store(const std::function<void(CArchive&)>& write) {
    std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
    {
        CArchive ar(stream, CArchive::store);
        write(ar);
    }
    return stream.str();
}

struct LayoutCase {
    const char* name;
    std::function<void(CArchive&)> store;
    std::string bytes;
    // Loads one value from the archive and reports whether it equals what `store` wrote.
    std::function<bool(CArchive&)> loadsBack;
};

TEST(Archive, ByteLayoutMatchesHandMadeBytesAndLoadsBack) {
    const CString smiley = L"\U0001F600"; // outside the basic plane: a surrogate pair
    const std::vector<LayoutCase> cases = {
        {"byte", [](CArchive& ar) { ar << std::uint8_t{0xAB}; }, Bytes({0xAB}),
         [](CArchive& ar) {
             std::uint8_t v = 0;
             ar >> v;
             return v == 0xAB;
         }},
        {"bool", [](CArchive& ar) { ar << true << false; }, Bytes({1, 0}),
         [](CArchive& ar) {
             bool a = false, b = true;
             ar >> a >> b;
             return a && !b;
         }},
        {"int32", [](CArchive& ar) { ar << std::int32_t{-2}; }, Bytes({0xFE, 0xFF, 0xFF, 0xFF}),
         [](CArchive& ar) {
             std::int32_t v = 0;
             ar >> v;
             return v == -2;
         }},
        {"uint32", [](CArchive& ar) { ar << std::uint32_t{0x01020304}; }, Bytes({4, 3, 2, 1}),
         [](CArchive& ar) {
             std::uint32_t v = 0;
             ar >> v;
             return v == 0x01020304u;
         }},
        {"int64", [](CArchive& ar) { ar << std::int64_t{0x0102030405060708}; },
         Bytes({8, 7, 6, 5, 4, 3, 2, 1}),
         [](CArchive& ar) {
             std::int64_t v = 0;
             ar >> v;
             return v == 0x0102030405060708;
         }},
        {"double", [](CArchive& ar) { ar << 1.0; }, Bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F}),
         [](CArchive& ar) {
             double v = 0;
             ar >> v;
             return v == 1.0;
         }},
        {"empty text", [](CArchive& ar) { ar << CString(); }, Bytes({0, 0, 0, 0}),
         [](CArchive& ar) {
             CString v = L"x";
             ar >> v;
             return v.empty();
         }},
        {"text", [](CArchive& ar) { ar << CString(L"Aé"); }, Bytes({2, 0, 0, 0, 0x41, 0, 0xE9, 0}),
         [](CArchive& ar) {
             CString v;
             ar >> v;
             return v == L"Aé";
         }},
        {"surrogate pair", [&](CArchive& ar) { ar << smiley; }, Bytes({2, 0, 0, 0, 0x3D, 0xD8, 0x00, 0xDE}),
         [&](CArchive& ar) {
             CString v;
             ar >> v;
             return v == smiley;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string written = Store(c.store);
        EXPECT_EQ(written, c.bytes);

        std::stringstream stream(c.bytes, std::ios::in | std::ios::out | std::ios::binary);
        CArchive ar(stream, CArchive::load);
        EXPECT_TRUE(c.loadsBack(ar));
        std::uint8_t extra = 0;
        EXPECT_THROW(ar >> extra, CArchiveException) << "all bytes should have been consumed";
    }
}

TEST(Archive, RecordRoundTrip) {
    const CString address = L"127.0.0.1";
    const CString label = L"Tarn – Halle 3 \U0001F4CF";
    const std::string bytes = Store([&](CArchive& ar) {
        ar << address << label << std::uint32_t{7300} << -12.5 << std::int64_t{-1} << true;
    });
    std::stringstream stream(bytes, std::ios::in | std::ios::out | std::ios::binary);
    CArchive ar(stream, CArchive::load);
    CString a, l;
    std::uint32_t port = 0;
    double d = 0;
    std::int64_t i = 0;
    bool b = false;
    ar >> a >> l >> port >> d >> i >> b;
    EXPECT_EQ(a, address);
    EXPECT_EQ(l, label);
    EXPECT_EQ(port, 7300u);
    EXPECT_EQ(d, -12.5);
    EXPECT_EQ(i, -1);
    EXPECT_TRUE(b);
}

TEST(Archive, ShortOrDamagedDataThrows) {
    struct Case {
        const char* name;
        std::string bytes;
        std::function<void(CArchive&)> load;
    };
    const std::vector<Case> cases = {
        {"nothing for a byte", "",
         [](CArchive& ar) {
             std::uint8_t v;
             ar >> v;
         }},
        {"three bytes for an int32", Bytes({1, 2, 3}),
         [](CArchive& ar) {
             std::int32_t v;
             ar >> v;
         }},
        {"seven bytes for a double", Bytes({0, 0, 0, 0, 0, 0, 0}),
         [](CArchive& ar) {
             double v;
             ar >> v;
         }},
        {"text cut inside its count", Bytes({1, 0}),
         [](CArchive& ar) {
             CString v;
             ar >> v;
         }},
        {"text cut inside its units", Bytes({3, 0, 0, 0, 0x41, 0, 0x42}),
         [](CArchive& ar) {
             CString v;
             ar >> v;
         }},
        // A damaged count must be refused, not turned into an allocation of 8 GiB.
        {"absurd text length", Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x41, 0}),
         [](CArchive& ar) {
             CString v;
             ar >> v;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::stringstream stream(c.bytes, std::ios::in | std::ios::out | std::ios::binary);
        CArchive ar(stream, CArchive::load);
        EXPECT_THROW(c.load(ar), CArchiveException);
    }
}

TEST(Archive, UnpairedSurrogateLoadsAsReplacementCharacter) {
    std::stringstream stream(Bytes({2, 0, 0, 0, 0x00, 0xD8, 0x41, 0x00}),
                             std::ios::in | std::ios::out | std::ios::binary);
    CArchive ar(stream, CArchive::load);
    CString v;
    ar >> v;
    EXPECT_EQ(v, CString(L"\uFFFDA"));
}

} // namespace
