#pragma once

#include "calder/Export.h"
#include "calder/ObjectModel.h"
#include "framework/WinTypes.h"

// The host socket named on the program's command line.
struct CALDER_API CmdLineSocket {
    BOOL socketGiven = FALSE;
    CString host;
    UINT port = 0;

    // Recognises "--tarn HOST:PORT" and "--tarn=HOST:PORT" (HOST may be a bracketed IPv6
    // address); every other argument is ignored. Fills the fields and returns true when a valid
    // socket was given; a malformed one leaves the fields unchanged.
    bool ParseCommandLine(int argc, const char* const* argv);
};
