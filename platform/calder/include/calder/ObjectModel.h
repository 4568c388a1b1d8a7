#pragma once
// The small object model that the packet classes and the instrument base class are built on.

#include "calder/Export.h"
#include "framework/WinTypes.h"

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CArchive;

// Wide text (UTF-32 on this platform).
using CString = std::wstring;

// printf-style formatting of wide text ("%s" takes a wide string, "%f" a double).
CALDER_API CString CStringFormat(const wchar_t* format, ...);

// Root of every serialisable object and packet.
class CALDER_API CObject {
public:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;

    // Virtual order: run-time class query, destructor, Serialize.
    // The run-time class name, for example "TarnIPMeasurement".
    virtual const char* GetRuntimeClassName() const;
    virtual ~CObject();
    virtual void Serialize(CArchive& ar);
};

// Declares the run-time class name of a CObject-derived class.
#define CALDER_DECLARE_RUNTIME_CLASS(Name)                                                                 \
    const char* GetRuntimeClassName() const override { return #Name; }

// Ordered list of wide texts.
class CALDER_API CStringArray {
public:
    std::ptrdiff_t Add(const CString& text);
    std::ptrdiff_t GetSize() const { return static_cast<std::ptrdiff_t>(items_.size()); }
    bool IsEmpty() const { return items_.empty(); }
    const CString& GetAt(std::ptrdiff_t index) const { return items_.at(static_cast<std::size_t>(index)); }
    CString& operator[](std::ptrdiff_t index) { return items_.at(static_cast<std::size_t>(index)); }
    const CString& operator[](std::ptrdiff_t index) const { return GetAt(index); }
    void RemoveAll() { items_.clear(); }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<CString> items_;
};

// Ordered list of object pointers. Does NOT own them: whoever fills it decides who deletes.
class CALDER_API CObArray {
public:
    std::ptrdiff_t Add(CObject* object);
    std::ptrdiff_t GetSize() const { return static_cast<std::ptrdiff_t>(items_.size()); }
    bool IsEmpty() const { return items_.empty(); }
    CObject* GetAt(std::ptrdiff_t index) const { return items_.at(static_cast<std::size_t>(index)); }
    CObject* operator[](std::ptrdiff_t index) const { return GetAt(index); }
    void RemoveAll() { items_.clear(); }
    void Reserve(std::size_t n) { items_.reserve(n); }

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<CObject*> items_;
};

// Ordered list that owns its elements: Add takes over the pointer, the destructor and RemoveAll
// delete them.
template <class T>
class CalderObArray {
public:
    CalderObArray() = default;
    CalderObArray(const CalderObArray&) = delete;
    CalderObArray& operator=(const CalderObArray&) = delete;
    CalderObArray(CalderObArray&&) noexcept = default;
    CalderObArray& operator=(CalderObArray&&) noexcept = default;
    ~CalderObArray() = default;

    // Takes ownership of `element` (ignored when null); returns its index.
    std::ptrdiff_t Add(T* element) {
        if (element == nullptr)
            return -1;
        items_.emplace_back(element);
        return static_cast<std::ptrdiff_t>(items_.size()) - 1;
    }
    std::ptrdiff_t GetSize() const { return static_cast<std::ptrdiff_t>(items_.size()); }
    T* GetAt(std::ptrdiff_t index) const { return items_.at(static_cast<std::size_t>(index)).get(); }
    T* operator[](std::ptrdiff_t index) const { return GetAt(index); }
    void RemoveAll() { items_.clear(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};
