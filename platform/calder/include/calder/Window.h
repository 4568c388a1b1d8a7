#pragma once
// Window helpers: remembered window positions, dispatching waiting messages, translations.

#include "calder/Export.h"
#include "calder/ObjectModel.h"
#include "framework/WinTypes.h"

class QWidget;

class CALDER_API PersistentWnd {
public:
    // Restores / saves the window's rectangle under [section]/key of the INI file
    // "WindowPositions.ini" in the host's Persistence folder. `flags` is reserved (9).
    // Restore returns 0 when nothing was stored (the window is left as it is).
    static BOOL RestoreWndRect(const CString& section, const CString& key, QWidget* window, int flags,
                               void* reserved);
    static BOOL SaveWndRect(const CString& section, const CString& key, QWidget* window, int flags,
                            void* reserved);
};

// Dispatches the calling thread's waiting events and returns. Both arguments are reserved.
CALDER_API void ProcessWaitingMessages(void* reserved1, void* reserved2);

class CALDER_API CalderLang {
public:
    // The text shown for an English message: its translation when a table is loaded and has one,
    // else the message itself.
    static CString Translate(const CString& english);
    // Loads a translation table (UTF-8 lines "english<TAB>translation"); false when unreadable.
    static bool LoadTable(const std::string& path);
    static void ClearTable();
};
