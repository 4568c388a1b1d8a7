// The wait helper on both of its paths, and logon through the polling path.

#include "Blocking.h"
#include "../SdkTestSupport.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <ostream>

#include <atomic>

namespace sdktest {
namespace {

enum class Path { timer, polling };

struct WaitCase {
    const char* label;
    bool flagAtStart;
    bool abortAtStart;
    int setFlagAfterMs; // < 0: never
    double timeoutSeconds;
    BOOL expected;
    bool flagAtEnd;
};

// Readable test names in the test runner.
void PrintTo(const WaitCase& c, std::ostream* os) {
    *os << c.label;
}
void PrintTo(Path p, std::ostream* os) {
    *os << (p == Path::timer ? "timer" : "polling");
}

class BlockingWait : public ::testing::TestWithParam<std::tuple<Path, WaitCase>> {
protected:
    void SetUp() override {
        testsupport::EnsureApplication();
        Blocking::ForcePollingForTesting(std::get<0>(GetParam()) == Path::polling);
    }
    void TearDown() override { Blocking::ForcePollingForTesting(false); }
};

TEST_P(BlockingWait, EndsAsTheFlagsSay) {
    const auto& [path, c] = GetParam();
    EXPECT_EQ(Blocking::TimerAvailable(), path == Path::timer);
    std::atomic<bool> flag{c.flagAtStart};
    const std::atomic<bool> abort{c.abortAtStart};
    QObject context;
    if (c.setFlagAfterMs >= 0) // delivered through the thread's events, as the host link's are
        QTimer::singleShot(c.setFlagAfterMs, &context, [&] { flag.store(true); });

    Blocking wait(c.timeoutSeconds, &flag, &abort, true, true);
    EXPECT_EQ(wait.Wait(), c.expected);
    EXPECT_EQ(flag.load(), c.flagAtEnd) << "a time-out must leave the watched flag alone";
}

const WaitCase kWaitCases[] = {
    {"alreadyThere", true, false, -1, 5.0, TRUE, true},
    {"alreadyThereBeatsAbort", true, true, -1, 5.0, TRUE, true},
    {"aborted", false, true, -1, 5.0, FALSE, false},
    {"setByEvent", false, false, 50, 5.0, TRUE, true},
    {"timesOut", false, false, -1, 0.2, FALSE, false},
    {"zeroTimeout", false, false, -1, 0.0, FALSE, false},
    {"negativeTimeout", false, false, -1, -3.0, FALSE, false},
};

INSTANTIATE_TEST_SUITE_P(Table, BlockingWait,
                         ::testing::Combine(::testing::Values(Path::timer, Path::polling),
                                            ::testing::ValuesIn(kWaitCases)),
                         [](const auto& param) {
                             return std::string(std::get<0>(param.param) == Path::timer ? "timer_"
                                                                                        : "polling_") +
                                    std::get<1>(param.param).label;
                         });

TEST(BlockingWaitTimer, AwaitedFalseIsHonoured) {
    testsupport::EnsureApplication();
    std::atomic<bool> flag{true};
    const std::atomic<bool> abort{false};
    QObject context;
    QTimer::singleShot(20, &context, [&] { flag.store(false); });
    Blocking wait(5.0, &flag, &abort, false, true);
    EXPECT_EQ(wait.Wait(), TRUE);
}

// Logon through the polling path against a host that never says the link is alive: it fails,
// and the link is not reported up.
TEST(PollingLogon, SilentHostLeavesTheLinkDown) {
    testsupport::ScopedTestEnvironment env;
    testsupport::EnsureApplication();
    Blocking::ForcePollingForTesting(true);
    SilentHost silent;
    TarnInstrument instrument(*new Messenger);
    GiveCommandLineSocket(instrument, silent.Port());
    EXPECT_FALSE(instrument.Logon(212, "Orrin"));
    EXPECT_FALSE(instrument.IsConnectedToTarn());
    Blocking::ForcePollingForTesting(false);
}

// The polling path still dispatches the host link's events: a real host logs on through it.
TEST(PollingLogon, RealHostLogsOn) {
    testsupport::ScopedTestEnvironment env;
    testsupport::EnsureApplication();
    Blocking::ForcePollingForTesting(true);
    tarnhostsim::Options options;
    options.announce = false;
    options.log = [](const std::string&) {};
    tarnhostsim::HostSimulator host(options);
    ASSERT_TRUE(host.Start());
    {
        TarnInstrument instrument(*new Messenger);
        GiveCommandLineSocket(instrument, host.Port());
        EXPECT_TRUE(instrument.Logon(212, "Orrin"));
        EXPECT_TRUE(instrument.IsConnectedToTarn());
    }
    Blocking::ForcePollingForTesting(false);
    host.Stop();
}

} // namespace
} // namespace sdktest
