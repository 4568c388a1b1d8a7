// The logon flow: settings file, host socket from the command line or the picker, connection
// with the retry prompt, socket activation and the wait for the host link.

#include "Blocking.h"
#include "DTarnConnection.h"
#include "TarnConnection.h"
#include "UnitConversion.h"

#include "calder/Window.h"
#include "framework/MessageBox.h"
#include "framework/WindowMessages.h"

#include <QDialog>

#include <atomic>
#include <utility>

namespace {

// How long logon waits for the host to say the link is alive.
constexpr double kLinkAliveWaitSeconds = 6.0;

} // namespace

int TarnConnection::LogonToTarn() {
    FindTarnDir(L"Persistence", &persistenceDir);
    settingsFileName = CStringFormat(L"TarnInstSDK_%s_Settings.bin", tarnsdk::Widen(instrumentName).c_str());
    DoInitInstanceStuff(false);

    const CString retryText = CalderLang::Translate(L"Could not connect to Tarn.  Try Again?");
    for (;;) {
        if (cmdLineSocket.socketGiven) {
            hostAddress = cmdLineSocket.host;
            hostPort = cmdLineSocket.port;
        } else if (!PopConnectionDialog(static_cast<WORD>(instrumentType), instrumentName)) {
            return 0; // the user closed the picker: no message, the program keeps running
        }

        if (!ConnectToTarn()) {
            const int answer =
                framework::MessageBox(nullptr, retryText, {}, framework::MB_YESNO | framework::MB_ICONSTOP);
            if (answer == framework::IDYES)
                continue;
            framework::PostQuitMessage(0);
            return 0;
        }

        if (!ActivateInstQuickSock()) {
            framework::MessageBox(nullptr, CalderLang::Translate(L"Could not connect socket to Tarn."), {},
                                  framework::MB_OK);
            framework::PostQuitMessage(0);
            return 0;
        }

        const std::atomic<bool> neverAbort{false};
        Blocking wait(kLinkAliveWaitSeconds, &connected, &neverAbort, true, true);
        return wait.Wait() ? 1 : 0;
    }
}

BOOL TarnConnection::PopConnectionDialog(WORD type, std::string name) {
    DTarnConnection dialog(type, std::move(name), hostAddress, hostLabel, hostPort);
    if (dialog.exec() != QDialog::Accepted)
        return FALSE;
    hostAddress = dialog.hostAddress;
    hostLabel = dialog.hostLabel;
    hostPort = dialog.hostPort;
    return TRUE;
}
