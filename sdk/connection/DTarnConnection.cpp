#include "DTarnConnection.h"

#include "UnitConversion.h"

#include "calder/Window.h"
#include "framework/MessageBox.h"
#include "framework/TextConversion.h"

#include <QCheckBox>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPushButton>
#include <QRect>
#include <QShowEvent>

#include <algorithm>
#include <utility>

namespace {

// The dialog's layout is given in dialog units: a quarter of the font's average character width
// horizontally and an eighth of its height vertically, so the controls grow with the font and
// their texts fit whatever font the platform picks.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        baseX_ = (metrics.horizontalAdvance(sample) / 26 + 1) / 2;
        baseY_ = metrics.height();
    }
    QRect operator()(int left, int top, int width, int height) const {
        return QRect(X(left), Y(top), X(width), Y(height));
    }

private:
    int X(int du) const { return du * baseX_ / 4; }
    int Y(int du) const { return du * baseY_ / 8; }
    int baseX_;
    int baseY_;
};

const wchar_t* const kPositionSection = L"windows";
constexpr int kPositionFlags = 9;

} // namespace

const wchar_t* const DTarnConnection::kInvalidSelectionText =
    L"Please Select a valid Tarn to connect to.\n"
    L"You will need to have Tarn running and the proper instrument added to the model.";

DTarnConnection::DTarnConnection(WORD type, std::string name, const CString& address, const CString& label,
                                 UINT port, QWidget* parent)
    : QDialog(parent), instrumentType(type), instrumentName(std::move(name)), hostAddress(address),
      hostLabel(label), hostPort(port) {
    setObjectName(QStringLiteral("DTarnConnection"));
    setWindowTitle(QStringLiteral("Connect to Tarn"));
    const DialogUnits FromDialogUnits(font());
    setFixedSize(FromDialogUnits(0, 0, 177, 176).size());

    group_ = new QGroupBox(QStringLiteral("Tarn"), this); // control id -1
    group_->setObjectName(QStringLiteral("tarnGroup"));
    group_->setGeometry(FromDialogUnits(7, 7, 163, 145));

    // Control 1000. Placed on the dialog, not in the group box, so that it keeps the template's
    // coordinates; it is raised above the frame.
    tree.setParent(this);
    tree.setObjectName(QStringLiteral("tree"));
    tree.setGeometry(FromDialogUnits(21, 22, 135, 104));
    tree.setHeaderHidden(true);
    tree.setRootIsDecorated(false);
    tree.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tree.raise();
    tree.viewport()->installEventFilter(this);

    showAllBox_ = new QCheckBox(QStringLiteral("Show All Available Connections"), this); // control 1001
    showAllBox_->setObjectName(QStringLiteral("showAll"));
    QRect showAllRect = FromDialogUnits(22, 133, 115, 10);
    // The check box's text decides its width where the template's is too narrow for the font.
    showAllRect.setWidth(std::max(showAllRect.width(), showAllBox_->sizeHint().width()));
    showAllBox_->setGeometry(showAllRect);
    showAllBox_->setChecked(false);
    showAllBox_->raise();

    okButton_ = new QPushButton(QStringLiteral("OK"), this); // control 1
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setGeometry(FromDialogUnits(7, 155, 50, 14));
    okButton_->setDefault(true);
    okButton_->setAutoDefault(true);

    setTabOrder(okButton_, &tree);
    setTabOrder(&tree, showAllBox_);

    connect(showAllBox_, &QCheckBox::clicked, this, [this] { OnBnClickedShowAll(); });
    connect(okButton_, &QPushButton::clicked, this, [this] { OnBnClickedOk(); });

    // Initialisation: fill the tree from the previous choice and title the window.
    tree.Initialize(2, instrumentType, hostAddress, hostLabel);
    setWindowTitle(framework::WideToQString(L"Tarn " + tarnsdk::Widen(instrumentName)));
}

DTarnConnection::~DTarnConnection() {
    tree.viewport()->removeEventFilter(this);
    PersistentWnd::SaveWndRect(kPositionSection, PositionKey(), this, kPositionFlags, nullptr);
}

CString DTarnConnection::PositionKey() const {
    return CStringFormat(L"Tarn_%s_DTarnConnection", tarnsdk::Widen(instrumentName).c_str());
}

void DTarnConnection::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    PersistentWnd::RestoreWndRect(kPositionSection, PositionKey(), this, kPositionFlags, nullptr);
}

bool DTarnConnection::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree.viewport() && event->type() == QEvent::MouseButtonDblClick) {
        // The first click of the pair has already selected the entry under the pointer.
        OnDblclkTree();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void DTarnConnection::OnBnClickedShowAll() {
    showAll = showAllBox_->isChecked() ? TRUE : FALSE;
    if (showAll)
        tree.RefreshAll();
    else
        tree.RefreshFiltered();
}

void DTarnConnection::OnBnClickedOk() {
    if (tree.GetResult(&hostAddress, &hostPort, &hostLabel)) {
        showAll = showAllBox_->isChecked() ? TRUE : FALSE;
        accept();
        return;
    }
    framework::MessageBox(this, kInvalidSelectionText, {}, framework::MB_OK);
}

void DTarnConnection::OnDblclkTree() {
    OnBnClickedOk();
}
