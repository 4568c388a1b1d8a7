// Host discovery: announcement files in the runtime folder, read back by the picker.

#include "calder/Discovery.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using calder::discovery::Entry;

namespace {

long OwnPid() {
    return static_cast<long>(::getpid());
}

// The id of a process that has ended (and been reaped), so it is not alive.
long DeadPid() {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<long>(child);
}

Entry MakeEntry(std::string label, unsigned port, std::vector<unsigned> types = {}, long pid = OwnPid()) {
    Entry e;
    e.label = std::move(label);
    e.address = "127.0.0.1";
    e.port = port;
    e.instrumentTypes = std::move(types);
    e.pid = pid;
    return e;
}

void WriteFile(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

TEST(DiscoveryTest, RuntimeFolderFollowsTheEnvironment) {
    testsupport::ScopedTestEnvironment env;
    EXPECT_EQ(calder::discovery::RuntimeFolder(), env.tarnRuntime());
    env.Set("TARN_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(calder::discovery::RuntimeFolder(), env.xdgRuntime() / "tarn");
    env.Set("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(calder::discovery::RuntimeFolder(), fs::path("/tmp") / ("tarn-" + std::to_string(::getuid())));
}

TEST(DiscoveryTest, AnnouncedHostsAreListedSortedByLabelUntilWithdrawn) {
    testsupport::ScopedTestEnvironment env;
    const fs::path zulu = calder::discovery::Announce(MakeEntry("Zulu", 7302, {212, 7}));
    const fs::path alpha = calder::discovery::Announce(MakeEntry("Alpha \u00e9", 7301));
    ASSERT_FALSE(zulu.empty());
    ASSERT_FALSE(alpha.empty());
    EXPECT_EQ(zulu.parent_path(), env.tarnRuntime());
    EXPECT_EQ(zulu.filename().string(), "host-" + std::to_string(OwnPid()) + "-7302.json");

    auto entries = calder::discovery::List();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].label, "Alpha \u00e9");
    EXPECT_EQ(entries[0].port, 7301u);
    EXPECT_TRUE(entries[0].instrumentTypes.empty());
    EXPECT_EQ(entries[1].label, "Zulu");
    EXPECT_EQ(entries[1].address, "127.0.0.1");
    EXPECT_EQ(entries[1].instrumentTypes, (std::vector<unsigned>{212, 7}));
    EXPECT_EQ(entries[1].pid, OwnPid());

    // Announcing the same host again replaces its entry instead of adding one.
    ASSERT_FALSE(calder::discovery::Announce(MakeEntry("Zulu renamed", 7302)).empty());
    entries = calder::discovery::List();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].label, "Zulu renamed");

    calder::discovery::Withdraw(zulu);
    entries = calder::discovery::List();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, "Alpha \u00e9");
    calder::discovery::Withdraw(alpha);
    calder::discovery::Withdraw(alpha); // twice is harmless
    EXPECT_TRUE(calder::discovery::List().empty());
}

TEST(DiscoveryTest, AnnouncingCreatesAMissingRuntimeFolder) {
    testsupport::ScopedTestEnvironment env;
    env.Set("TARN_RUNTIME_DIR", (env.root() / "not-yet" / "there").string());
    ASSERT_FALSE(calder::discovery::Announce(MakeEntry("New", 7300)).empty());
    EXPECT_EQ(calder::discovery::List().size(), 1u);
}

TEST(DiscoveryTest, DeadHostsAndBrokenFilesAreSkipped) {
    testsupport::ScopedTestEnvironment env;
    ASSERT_FALSE(calder::discovery::Announce(MakeEntry("Alive", 7300)).empty());
    ASSERT_FALSE(calder::discovery::Announce(MakeEntry("Dead", 7301, {}, DeadPid())).empty());

    const fs::path dir = env.tarnRuntime();
    const std::string pid = std::to_string(OwnPid());
    WriteFile(dir / "host-corrupt.json", "{\"label\": \"Broken\", \"address\": ");
    WriteFile(dir / "host-array.json", "[1, 2, 3]");
    WriteFile(dir / "host-noport.json",
              "{\"label\":\"NoPort\",\"address\":\"127.0.0.1\",\"pid\":" + pid + "}");
    WriteFile(dir / "host-badport.json",
              "{\"label\":\"BadPort\",\"address\":\"127.0.0.1\",\"port\":70000,\"pid\":" + pid + "}");
    WriteFile(dir / "host-noaddress.json", "{\"label\":\"NoAddress\",\"port\":7300,\"pid\":" + pid + "}");
    WriteFile(dir / "host-pidzero.json",
              "{\"label\":\"PidZero\",\"address\":\"127.0.0.1\",\"port\":7300,\"pid\":0}");
    WriteFile(dir / "host-textport.json",
              "{\"label\":\"TextPort\",\"address\":\"127.0.0.1\",\"port\":\"7300\",\"pid\":" + pid + "}");
    WriteFile(dir / "notes.txt",
              "{\"label\":\"Other\",\"address\":\"127.0.0.1\",\"port\":1,\"pid\":" + pid + "}");
    // Unreadable: a folder with the right name.
    fs::create_directory(dir / "host-folder.json");

    const auto entries = calder::discovery::List();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, "Alive");
}

TEST(DiscoveryTest, AMissingFolderListsNothing) {
    testsupport::ScopedTestEnvironment env;
    env.Set("TARN_RUNTIME_DIR", (env.root() / "absent").string());
    EXPECT_TRUE(calder::discovery::List().empty());
    EXPECT_FALSE(fs::exists(env.root() / "absent")) << "listing must not create the folder";
}

} // namespace
