#include "framework/AppData.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace framework {

namespace {

// The value of an environment variable, or empty when it is unset or empty.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::filesystem::path HomeFolder() {
    if (std::string home = Environment("HOME"); !home.empty()) {
        return home;
    }
    // No HOME (a service account, a stripped environment): ask the user database.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
        result->pw_dir != nullptr && result->pw_dir[0] != '\0') {
        return result->pw_dir;
    }
    return "/tmp";
}

} // namespace

std::filesystem::path UserDataFolder() {
    // Relative values are to be ignored, so that the folder does not depend on the working
    // directory.
    if (std::filesystem::path xdg = Environment("XDG_DATA_HOME"); !xdg.empty() && xdg.is_absolute()) {
        return xdg;
    }
    return HomeFolder() / ".local" / "share";
}

std::filesystem::path CommonAppDataFolder() {
    if (std::string configured = Environment("ORRIN_TARN_APPDATA"); !configured.empty()) {
        return configured;
    }
    const std::filesystem::path machineWide = "/var/lib";
    if (access(machineWide.c_str(), W_OK) == 0) {
        return machineWide;
    }
    return UserDataFolder();
}

} // namespace framework
