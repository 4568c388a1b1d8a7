#pragma once
// A fresh temporary folder per test, with every folder variable of the programs pointing into it.

#include "TestApplication.h"

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Creates <tmp>/orrin-tarn-test-XXXXXX and points these variables at sub-folders of it (all
// created): ORRIN_TARN_APPDATA -> appdata, TARN_HOME -> tarn-home, TARN_RUNTIME_DIR -> tarn-runtime,
// XDG_DATA_HOME -> xdg-data, XDG_RUNTIME_DIR -> xdg-runtime (mode 0700). On destruction the old
// values come back (unset ones are unset again) and the folder is removed. Create it before any
// thread that reads the environment starts.
class ScopedTestEnvironment {
public:
    ScopedTestEnvironment();
    ~ScopedTestEnvironment();
    ScopedTestEnvironment(const ScopedTestEnvironment&) = delete;
    ScopedTestEnvironment& operator=(const ScopedTestEnvironment&) = delete;

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path appData() const { return root_ / "appdata"; }
    std::filesystem::path tarnHome() const { return root_ / "tarn-home"; }
    std::filesystem::path tarnRuntime() const { return root_ / "tarn-runtime"; }
    std::filesystem::path xdgData() const { return root_ / "xdg-data"; }
    std::filesystem::path xdgRuntime() const { return root_ / "xdg-runtime"; }

    // Sets (or, with nullopt, unsets) one more variable for the lifetime of this object.
    void Set(const std::string& name, const std::optional<std::string>& value);

private:
    void Remember(const std::string& name);

    std::filesystem::path root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

} // namespace testsupport
