#pragma once
// The docking button an instrument shows in its window, and the wrapper that handles its command.

#include "calder/Export.h"
#include "calder/ObjectModel.h"
#include "framework/WinTypes.h"

#include <QPointer>
#include <QPushButton>

class QDialog;
class QWidget;
class TarnInstBase;

// Command message of a control (wParam: control id in the low word).
constexpr UINT WM_COMMAND = 0x0111;

class CALDER_API CDockingBtnCtrl {
public:
    CDockingBtnCtrl();
    CDockingBtnCtrl(const CDockingBtnCtrl&) = delete;
    CDockingBtnCtrl& operator=(const CDockingBtnCtrl&) = delete;
    ~CDockingBtnCtrl(); // destroys the button when it still exists

    // Creates the button as a child of `parent` at `rect`. A click posts WM_COMMAND with `id` to
    // `parent`. Style 0x10000000 makes it visible. Nonzero on success (false for a null parent).
    BOOL Create(const CString& caption, DWORD style, const CRect& rect, QWidget* parent, UINT id);
    QPushButton* button() const;
    UINT id() const;

private:
    QPointer<QPushButton> button_; // a child of its parent widget, which may destroy it first
    UINT id_ = 0;
};

class CALDER_API DockWrapper {
public:
    void SetDockingBtnCtrl(CDockingBtnCtrl& button);
    // Nonzero when the instrument can dock: a docking button has been set.
    BOOL CheckDockability(TarnInstBase& instrument);
    // Handles WM_COMMAND of the docking button: toggles the docked state and returns nonzero.
    // Returns 0 for every other command.
    int OnCommand(QDialog& dialog, WPARAM wParam, LPARAM lParam);
    bool IsDocked() const { return docked_; }

private:
    CDockingBtnCtrl* button_ = nullptr;
    TarnInstBase* instrument_ = nullptr;
    bool docked_ = false;
};
