#include "TestEnvironment.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace testsupport {

ScopedTestEnvironment::ScopedTestEnvironment() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orrin-tarn-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "cannot create a test folder");
    }
    root_ = pattern;
    const std::pair<const char*, std::filesystem::path> folders[] = {
        {"ORRIN_TARN_APPDATA", appData()},   {"TARN_HOME", tarnHome()},
        {"TARN_RUNTIME_DIR", tarnRuntime()}, {"XDG_DATA_HOME", xdgData()},
        {"XDG_RUNTIME_DIR", xdgRuntime()},
    };
    for (const auto& [name, folder] : folders) {
        std::filesystem::create_directories(folder);
        Set(name, folder.string());
    }
    std::filesystem::permissions(xdgRuntime(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
}

ScopedTestEnvironment::~ScopedTestEnvironment() {
    // Newest first, so that a variable set twice gets its original value back.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second) {
            setenv(it->first.c_str(), it->second->c_str(), 1);
        } else {
            unsetenv(it->first.c_str());
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void ScopedTestEnvironment::Remember(const std::string& name) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
}

void ScopedTestEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    Remember(name);
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

} // namespace testsupport
