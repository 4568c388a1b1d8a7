#pragma once

#include <filesystem>

namespace framework {

// The machine-wide application data folder: $ORRIN_TARN_APPDATA when set, else /var/lib when it
// is writable, else the user's data folder ($XDG_DATA_HOME or ~/.local/share). Not created.
std::filesystem::path CommonAppDataFolder();

// The user's data folder: $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path UserDataFolder();

} // namespace framework
