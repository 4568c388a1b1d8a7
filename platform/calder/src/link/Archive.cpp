// Binary archive: little-endian scalars, texts as UTF-16 with a 32-bit unit count.

#include "calder/Archive.h"

#include "link/Unicode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>
#include <string>

namespace {

template <class T>
void StoreLittleEndian(CArchive& ar, T value) {
    unsigned char bytes[sizeof(T)];
    auto bits = std::bit_cast<std::make_unsigned_t<T>>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        bytes[i] = static_cast<unsigned char>(bits & 0xFFu);
        bits = static_cast<std::make_unsigned_t<T>>(bits >> 8);
    }
    ar.Write(bytes, sizeof(T));
}

template <class T>
T LoadLittleEndian(CArchive& ar) {
    unsigned char bytes[sizeof(T)];
    ar.Read(bytes, sizeof(T));
    std::make_unsigned_t<T> bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = static_cast<std::make_unsigned_t<T>>((bits << 8) | bytes[i]);
    return std::bit_cast<T>(bits);
}

} // namespace

CArchive::CArchive(std::iostream& stream, Mode mode) : stream_(stream), mode_(mode) {}

CArchive::~CArchive() {
    if (IsStoring())
        stream_.flush();
}

void CArchive::Write(const void* data, std::size_t size) {
    if (!IsStoring())
        throw CArchiveException("archive: write to an archive opened for loading");
    if (size == 0)
        return;
    stream_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!stream_)
        throw CArchiveException("archive: the data could not be written");
}

void CArchive::Read(void* data, std::size_t size) {
    if (!IsLoading())
        throw CArchiveException("archive: read from an archive opened for storing");
    if (size == 0)
        return;
    stream_.read(static_cast<char*>(data), static_cast<std::streamsize>(size));
    if (static_cast<std::size_t>(stream_.gcount()) != size || !stream_)
        throw CArchiveException("archive: unexpected end of data");
}

void CArchive::Flush() {
    if (IsStoring())
        stream_.flush();
}

CArchive& CArchive::operator<<(std::uint8_t v) {
    Write(&v, 1);
    return *this;
}
CArchive& CArchive::operator<<(bool v) {
    return *this << static_cast<std::uint8_t>(v ? 1 : 0);
}
CArchive& CArchive::operator<<(std::int32_t v) {
    StoreLittleEndian(*this, v);
    return *this;
}
CArchive& CArchive::operator<<(std::uint32_t v) {
    StoreLittleEndian(*this, v);
    return *this;
}
CArchive& CArchive::operator<<(std::int64_t v) {
    StoreLittleEndian(*this, v);
    return *this;
}
CArchive& CArchive::operator<<(double v) {
    StoreLittleEndian(*this, std::bit_cast<std::uint64_t>(v));
    return *this;
}
CArchive& CArchive::operator<<(const CString& v) {
    const std::u16string units = calder::unicode::WideToUtf16(v);
    if (units.size() > std::numeric_limits<std::uint32_t>::max())
        throw CArchiveException("archive: text too long to store");
    *this << static_cast<std::uint32_t>(units.size());
    for (const char16_t u : units)
        StoreLittleEndian(*this, static_cast<std::uint16_t>(u));
    return *this;
}

CArchive& CArchive::operator>>(std::uint8_t& v) {
    Read(&v, 1);
    return *this;
}
CArchive& CArchive::operator>>(bool& v) {
    std::uint8_t byte = 0;
    *this >> byte;
    v = byte != 0;
    return *this;
}
CArchive& CArchive::operator>>(std::int32_t& v) {
    v = LoadLittleEndian<std::int32_t>(*this);
    return *this;
}
CArchive& CArchive::operator>>(std::uint32_t& v) {
    v = LoadLittleEndian<std::uint32_t>(*this);
    return *this;
}
CArchive& CArchive::operator>>(std::int64_t& v) {
    v = LoadLittleEndian<std::int64_t>(*this);
    return *this;
}
CArchive& CArchive::operator>>(double& v) {
    v = std::bit_cast<double>(LoadLittleEndian<std::uint64_t>(*this));
    return *this;
}
CArchive& CArchive::operator>>(CString& v) {
    std::uint32_t count = 0;
    *this >> count;
    const std::size_t bytes = std::size_t{count} * 2;

    // A damaged count must not turn into a huge allocation: compare it with what the stream
    // still holds when the stream can tell, and otherwise grow the text only as data arrives.
    const auto here = stream_.tellg();
    if (here != std::streampos(-1)) {
        stream_.seekg(0, std::ios::end);
        const auto end = stream_.tellg();
        stream_.seekg(here);
        if (end != std::streampos(-1) && static_cast<std::size_t>(end - here) < bytes)
            throw CArchiveException("archive: text length exceeds the remaining data");
    }
    std::u16string units;
    constexpr std::size_t kChunkUnits = 16 * 1024;
    unsigned char chunk[kChunkUnits * 2];
    std::size_t remaining = count;
    while (remaining > 0) {
        const std::size_t n = std::min(remaining, kChunkUnits);
        Read(chunk, n * 2);
        for (std::size_t i = 0; i < n; ++i)
            units.push_back(static_cast<char16_t>(chunk[2 * i] | (chunk[2 * i + 1] << 8)));
        remaining -= n;
    }
    v = calder::unicode::Utf16ToWide(units);
    return *this;
}
