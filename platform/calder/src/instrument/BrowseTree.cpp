// The picker's tree of announced hosts.

#include "calder/BrowseTree.h"

#include "calder/Discovery.h"

#include <QString>
#include <QTreeWidgetItem>

#include <algorithm>

namespace {

enum Role { addressRole = Qt::UserRole + 1, portRole, labelRole };

QString ToQString(const CString& text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

bool TakesType(const calder::discovery::Entry& entry, WORD type) {
    return entry.instrumentTypes.empty() ||
           std::find(entry.instrumentTypes.begin(), entry.instrumentTypes.end(),
                     static_cast<unsigned>(type)) != entry.instrumentTypes.end();
}

QString ItemText(const calder::discovery::Entry& entry) {
    const QString address = QString::fromStdString(entry.address);
    const QString socket = address.contains(QLatin1Char(':'))
                               ? QStringLiteral("[%1]:%2").arg(address).arg(entry.port)
                               : QStringLiteral("%1:%2").arg(address).arg(entry.port);
    const QString label = QString::fromStdString(entry.label);
    return label.isEmpty() ? socket : QStringLiteral("%1 (%2)").arg(label, socket);
}

} // namespace

TarnBrowseTree::TarnBrowseTree(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TarnBrowseTree::Initialize(int /*mode*/, WORD instrumentType, const CString& hostAddress,
                                const CString& hostLabel) {
    instrumentType_ = instrumentType;
    preferredAddress_ = hostAddress;
    preferredLabel_ = hostLabel;
    clear(); // the previous choice given here wins over whatever was selected before
    Fill(false);
}

void TarnBrowseTree::RefreshFiltered() {
    Fill(false);
}

void TarnBrowseTree::RefreshAll() {
    Fill(true);
}

void TarnBrowseTree::Fill(bool all) {
    // A refresh keeps what the user picked, if it is still there.
    CString address;
    CString label;
    UINT port = 0;
    if (GetResult(&address, &port, &label)) {
        preferredAddress_ = address;
        preferredLabel_ = label;
    }

    clear();
    QTreeWidgetItem* exact = nullptr;
    QTreeWidgetItem* sameAddress = nullptr;
    const QString wantedAddress = ToQString(preferredAddress_);
    const QString wantedLabel = ToQString(preferredLabel_);
    for (const auto& entry : calder::discovery::List()) {
        if (!all && !TakesType(entry, instrumentType_))
            continue;
        auto* item = new QTreeWidgetItem(this, QStringList{ItemText(entry)});
        const QString entryAddress = QString::fromStdString(entry.address);
        const QString entryLabel = QString::fromStdString(entry.label);
        item->setData(0, addressRole, entryAddress);
        item->setData(0, portRole, entry.port);
        item->setData(0, labelRole, entryLabel);
        if (!wantedAddress.isEmpty() && entryAddress == wantedAddress) {
            if (exact == nullptr && entryLabel == wantedLabel)
                exact = item;
            if (sameAddress == nullptr)
                sameAddress = item;
        }
    }
    if (topLevelItemCount() == 0) {
        // Says why the tree is empty; it is no host and cannot be chosen.
        auto* note = new QTreeWidgetItem(this, QStringList{tr("No running Tarn found")});
        note->setFlags(Qt::NoItemFlags);
        return;
    }
    QTreeWidgetItem* chosen = exact != nullptr ? exact : sameAddress;
    if (chosen != nullptr) {
        setCurrentItem(chosen);
        chosen->setSelected(true);
        scrollToItem(chosen);
    }
}

BOOL TarnBrowseTree::GetResult(CString* address, UINT* port, CString* label) const {
    const auto selected = selectedItems();
    if (selected.isEmpty())
        return FALSE;
    const QTreeWidgetItem* item = selected.front();
    const QVariant addressValue = item->data(0, addressRole);
    if (!addressValue.isValid())
        return FALSE;
    if (address != nullptr)
        *address = addressValue.toString().toStdWString();
    if (port != nullptr)
        *port = item->data(0, portRole).toUInt();
    if (label != nullptr)
        *label = item->data(0, labelRole).toString().toStdWString();
    return TRUE;
}
