#include "framework/AppData.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <optional>
#include <string>

namespace {

using testsupport::ScopedTestEnvironment;

struct FolderCase {
    const char* name;
    std::optional<std::string> appData; // ORRIN_TARN_APPDATA
    std::optional<std::string> xdgData; // XDG_DATA_HOME
    std::optional<std::string> home;    // HOME
    std::string expectedUserFolder;
    std::optional<std::string> expectedCommonFolder; // nullopt: the machine-wide rule applies
};

TEST(AppDataFolders, FollowTheEnvironment) {
    const FolderCase cases[] = {
        {"configured folder wins", "/srv/orrin", "/data/xdg", "/home/op", "/data/xdg", "/srv/orrin"},
        {"configured folder with spaces", "/srv/Orrin Data", std::nullopt, "/home/op",
         "/home/op/.local/share", "/srv/Orrin Data"},
        {"empty configured folder is unset", "", "/data/xdg", "/home/op", "/data/xdg", std::nullopt},
        {"unset configured folder", std::nullopt, "/data/xdg", "/home/op", "/data/xdg", std::nullopt},
        {"empty XDG folder", std::nullopt, "", "/home/op", "/home/op/.local/share", std::nullopt},
        {"relative XDG folder is ignored", std::nullopt, "relative/xdg", "/home/op", "/home/op/.local/share",
         std::nullopt},
        {"unset XDG folder", std::nullopt, std::nullopt, "/home/op", "/home/op/.local/share", std::nullopt},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedTestEnvironment environment;
        environment.Set("ORRIN_TARN_APPDATA", c.appData);
        environment.Set("XDG_DATA_HOME", c.xdgData);
        environment.Set("HOME", c.home);

        EXPECT_EQ(framework::UserDataFolder(), std::filesystem::path(c.expectedUserFolder));
        const std::filesystem::path machineWide =
            access("/var/lib", W_OK) == 0 ? std::filesystem::path("/var/lib") : framework::UserDataFolder();
        EXPECT_EQ(framework::CommonAppDataFolder(),
                  c.expectedCommonFolder ? std::filesystem::path(*c.expectedCommonFolder) : machineWide);
        // Only named, never created.
        EXPECT_FALSE(std::filesystem::exists(environment.root() / "Nordvane"));
    }
}

TEST(AppDataFolders, WithoutHomeTheUserDatabaseGivesTheFolder) {
    ScopedTestEnvironment environment;
    environment.Set("XDG_DATA_HOME", std::nullopt);
    environment.Set("HOME", std::nullopt);
    const std::filesystem::path folder = framework::UserDataFolder();
    EXPECT_TRUE(folder.is_absolute()) << folder;
    EXPECT_EQ(folder.filename(), "share");
}

TEST(ScopedTestEnvironment, PointsEveryFolderIntoItsOwnTreeAndRestores) {
    const char* names[] = {"ORRIN_TARN_APPDATA", "TARN_HOME", "TARN_RUNTIME_DIR", "XDG_DATA_HOME",
                           "XDG_RUNTIME_DIR"};
    setenv("TARN_HOME", "/outer/tarn", 1);
    unsetenv("TARN_RUNTIME_DIR");
    std::filesystem::path root;
    {
        ScopedTestEnvironment environment;
        root = environment.root();
        for (const char* name : names) {
            SCOPED_TRACE(name);
            const char* value = std::getenv(name);
            ASSERT_NE(value, nullptr);
            const std::filesystem::path folder(value);
            EXPECT_EQ(folder.parent_path(), root);
            EXPECT_TRUE(std::filesystem::is_directory(folder));
        }
        EXPECT_EQ(framework::CommonAppDataFolder(), environment.appData());
        ScopedTestEnvironment nested;
        EXPECT_NE(nested.root(), root);
    }
    EXPECT_FALSE(std::filesystem::exists(root));
    ASSERT_NE(std::getenv("TARN_HOME"), nullptr);
    EXPECT_STREQ(std::getenv("TARN_HOME"), "/outer/tarn");
    EXPECT_EQ(std::getenv("TARN_RUNTIME_DIR"), nullptr);
    unsetenv("TARN_HOME");
}

} // namespace
