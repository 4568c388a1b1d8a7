#pragma once
// A tree of the hosts that announce themselves for discovery, filtered by instrument type.

#include "calder/Export.h"
#include "calder/ObjectModel.h"
#include "framework/WinTypes.h"

#include <QTreeWidget>

class CALDER_API TarnBrowseTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TarnBrowseTree(QWidget* parent = nullptr);

    // Fills the tree with the hosts that take `instrumentType` and selects the entry matching
    // the previous choice. `mode` is reserved (2).
    void Initialize(int mode, WORD instrumentType, const CString& hostAddress, const CString& hostLabel);
    void RefreshFiltered();
    void RefreshAll();
    // Nonzero when a host entry is selected; fills the three outputs then.
    BOOL GetResult(CString* address, UINT* port, CString* label) const;

private:
    void Fill(bool all);
    WORD instrumentType_ = 0;
    CString preferredAddress_;
    CString preferredLabel_;
};
