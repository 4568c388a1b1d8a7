// The library's application object, created when the library loads.
//
// Start-up of sockets on this platform: a write to a host that has gone away raises SIGPIPE,
// whose default action ends the process. The host socket writes with MSG_NOSIGNAL; in addition
// the signal is ignored process-wide, unless the program has installed its own handler, so that
// no other write path of the SDK can kill an instrument program either.

#include <csignal>

namespace {

class CTarnInstrumentSDKApp {
public:
    CTarnInstrumentSDKApp() {
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) != 0)
            return;
        const bool defaultAction = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
        if (!defaultAction)
            return; // the program decided for itself
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    }
};

const CTarnInstrumentSDKApp theApp;

} // namespace
