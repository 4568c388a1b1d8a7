#pragma once
// Binary archive for settings records.
//
// Byte layout (little-endian): integers in their width; bool and BYTE one byte (0 or 1 for bool);
// double as IEEE-754 binary64; CString as a 32-bit unsigned count of UTF-16 code units followed
// by the code units. A load past the end of the data throws CArchiveException.

#include "calder/Export.h"
#include "calder/ObjectModel.h"

#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <vector>

class CALDER_API CArchiveException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class CALDER_API CArchive {
public:
    enum Mode { store = 0, load = 1 };

    // Stores into, or loads from, `stream` (opened in binary mode).
    CArchive(std::iostream& stream, Mode mode);
    CArchive(const CArchive&) = delete;
    CArchive& operator=(const CArchive&) = delete;
    ~CArchive();

    bool IsStoring() const { return mode_ == store; }
    bool IsLoading() const { return mode_ == load; }

    CArchive& operator<<(std::uint8_t v);
    CArchive& operator<<(bool v);
    CArchive& operator<<(std::int32_t v);
    CArchive& operator<<(std::uint32_t v);
    CArchive& operator<<(std::int64_t v);
    CArchive& operator<<(double v);
    CArchive& operator<<(const CString& v);

    CArchive& operator>>(std::uint8_t& v);
    CArchive& operator>>(bool& v);
    CArchive& operator>>(std::int32_t& v);
    CArchive& operator>>(std::uint32_t& v);
    CArchive& operator>>(std::int64_t& v);
    CArchive& operator>>(double& v);
    CArchive& operator>>(CString& v);

    void Write(const void* data, std::size_t size);
    void Read(void* data, std::size_t size); // throws CArchiveException when short
    void Flush();

private:
    std::iostream& stream_;
    Mode mode_;
};
