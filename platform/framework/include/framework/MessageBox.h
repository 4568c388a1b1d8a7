#pragma once
// A plain modal message box. Tests answer it by finding the active modal widget (its object name
// is "frameworkMessageBox") and clicking one of its buttons.

#include "framework/WinTypes.h"

#include <string>

class QWidget;

namespace framework {

// Button sets.
constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
// Icons.
constexpr UINT MB_ICONSTOP = 0x10;
constexpr UINT MB_ICONERROR = MB_ICONSTOP;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows `text` modally and returns the answer (IDOK, IDCANCEL, IDYES or IDNO). Closing the box
// without a button gives IDCANCEL for boxes with Cancel, IDNO for Yes/No and IDOK for OK.
// An empty caption shows the application's name.
int MessageBox(QWidget* parent, const std::wstring& text, const std::wstring& caption = {},
               UINT type = MB_OK);

} // namespace framework
