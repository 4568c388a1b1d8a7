#pragma once
// The handful of desktop-platform scalar types and constants that the components' interfaces use.

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr WORD LOWORD(WPARAM v) { return static_cast<WORD>(v & 0xFFFFu); }
constexpr WORD HIWORD(WPARAM v) { return static_cast<WORD>((v >> 16) & 0xFFFFu); }

// A rectangle in a parent's client coordinates (right and bottom exclusive).
struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};
