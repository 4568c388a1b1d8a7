#pragma once
// The connection picker: a tree of the running hosts that take this instrument, a check box to
// show every host, and OK. There is no Cancel button: the close box and Escape cancel.

#include "calder/BrowseTree.h"
#include "calder/ObjectModel.h"
#include "framework/WinTypes.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QGroupBox;
class QPushButton;
class QShowEvent;

class DTarnConnection : public QDialog {
    Q_OBJECT
public:
    DTarnConnection(WORD type, std::string name, const CString& address, const CString& label, UINT port,
                    QWidget* parent = nullptr);
    ~DTarnConnection() override; // saves the window position

    // The text shown when OK is pressed without a valid host selected.
    static const wchar_t* const kInvalidSelectionText;

    // The window-position key: "Tarn_<name>_DTarnConnection".
    CString PositionKey() const;

    void OnBnClickedShowAll();
    void OnBnClickedOk();
    void OnDblclkTree();

    // ---- Fields ----
    WORD instrumentType = 0;
    std::string instrumentName;
    CString hostAddress;
    CString hostLabel;
    UINT hostPort = 0;
    TarnBrowseTree tree;
    BOOL showAll = FALSE;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QGroupBox* group_ = nullptr;
    QCheckBox* showAllBox_ = nullptr;
    QPushButton* okButton_ = nullptr;
};
