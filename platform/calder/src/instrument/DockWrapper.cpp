// The docking button and the wrapper that handles its command.

#include "calder/DockWrapper.h"

#include "framework/WindowMessages.h"

#include <QDialog>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace {
constexpr DWORD kVisibleStyle = 0x10000000;
constexpr WORD kClickedNotification = 0; // high word of wParam for a button click
} // namespace

CDockingBtnCtrl::CDockingBtnCtrl() = default;

CDockingBtnCtrl::~CDockingBtnCtrl() {
    delete button_.data();
}

BOOL CDockingBtnCtrl::Create(const CString& caption, DWORD style, const CRect& rect, QWidget* parent,
                             UINT id) {
    if (parent == nullptr)
        return FALSE;
    delete button_.data();
    auto* button = new QPushButton(
        QString::fromWCharArray(caption.data(), static_cast<qsizetype>(caption.size())), parent);
    button->setObjectName(QStringLiteral("dockingButton"));
    button->setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
    button->setVisible((style & kVisibleStyle) != 0);
    button_ = button;
    id_ = id;
    // The parent learns of the click the way a dialog learns of any control's command.
    QObject::connect(button, &QPushButton::clicked, button, [parent, button, id] {
        const WPARAM wParam = (static_cast<WPARAM>(kClickedNotification) << 16) | (id & 0xFFFFu);
        framework::PostMessage(parent, WM_COMMAND, wParam, reinterpret_cast<LPARAM>(button));
    });
    return TRUE;
}

QPushButton* CDockingBtnCtrl::button() const {
    return button_.data();
}

UINT CDockingBtnCtrl::id() const {
    return id_;
}

void DockWrapper::SetDockingBtnCtrl(CDockingBtnCtrl& button) {
    button_ = &button;
}

BOOL DockWrapper::CheckDockability(TarnInstBase& instrument) {
    instrument_ = &instrument;
    return button_ != nullptr ? TRUE : FALSE;
}

int DockWrapper::OnCommand(QDialog& /*dialog*/, WPARAM wParam, LPARAM /*lParam*/) {
    if (button_ == nullptr || button_->button() == nullptr || LOWORD(wParam) != LOWORD(button_->id()))
        return 0;
    docked_ = !docked_;
    if (QPushButton* b = button_->button()) {
        b->setCheckable(true);
        b->setChecked(docked_);
    }
    return 1;
}
