// The example instrument program, built against the public headers only, run against the host
// simulator: it logs on, sends its point, answers commands as its Messenger decides and follows
// the heartbeat.

#include "SdkTestSupport.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

#ifndef MINIMAL_INSTRUMENT_PATH
#error "MINIMAL_INSTRUMENT_PATH must name the example program"
#endif

namespace sdktest {
namespace {

class ExampleProgram : public HostTest {
protected:
    void TearDown() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(5000);
        }
        HostTest::TearDown();
    }

    void Run(const QStringList& extra) {
        QStringList args{"--tarn", QString("127.0.0.1:%1").arg(Host().Port()), "--exit-after", "20"};
        args << extra;
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(MINIMAL_INSTRUMENT_PATH, args);
        ASSERT_TRUE(process_.waitForStarted(10000));
    }

    // Reads standard output until a line equal to `line` has been seen.
    bool WaitForLine(const std::string& line) {
        return DispatchUntil(
            [&] {
                output_ += process_.readAllStandardOutput().toStdString();
                return output_.find(line + "\n") != std::string::npos;
            },
            20s);
    }

    QProcess process_;
    std::string output_;
};

TEST_F(ExampleProgram, LogsOnSendsAnswersAndFollowsTheHeartbeat) {
    Run({});
    ASSERT_TRUE(WaitForLine("point sent")) << output_;
    ASSERT_TRUE(Host().WaitForReceived("TarnIPMeasurement", 1, 10s));
    const auto points = Host().Received("TarnIPMeasurement");
    EXPECT_EQ(points[0].value("targetName").toString().toStdString(), "P1");
    EXPECT_EQ(Host().Received("Logon")[0].value("instrumentName").toString().toStdString(), "Minimal");
    EXPECT_EQ(Host().Received("InterfaceReady").size(), 1u);

    ASSERT_TRUE(Host().Execute("start"));
    ASSERT_TRUE(WaitForLine("begin accepted")) << output_;
    ASSERT_TRUE(Host().Execute("batch _M _N G1,P1,T1,1,0,0"));
    ASSERT_TRUE(WaitForLine("batch point G1 P1_M T1_N 25.400000 0.000000 0.000000")) << output_;
    ASSERT_TRUE(Host().WaitFor(
        [](const std::vector<QJsonObject>& journal) {
            int codes = 0;
            for (const QJsonObject& f : journal)
                codes += f.value("type").toString() == "ProcessCompleted" && f.value("code").toInt() == 2;
            return codes >= 2;
        },
        10s));

    ASSERT_TRUE(Host().Execute("heartbeat off"));
    ASSERT_TRUE(WaitForLine("link down")) << output_;
    ASSERT_TRUE(Host().Execute("heartbeat on"));
    ASSERT_TRUE(WaitForLine("link up")) << output_;

    process_.terminate();
    EXPECT_TRUE(process_.waitForFinished(10000));
}

TEST_F(ExampleProgram, RefusingMessengerRefusesTheHost) {
    Run({"--refuse"});
    ASSERT_TRUE(WaitForLine("logged on")) << output_;
    ASSERT_TRUE(Host().Execute("opcheck probe"));
    ASSERT_TRUE(WaitForLine("opcheck probe refused")) << output_;
    ASSERT_TRUE(Host().WaitFor(
        [](const std::vector<QJsonObject>& journal) {
            for (const QJsonObject& f : journal)
                if (f.value("type").toString() == "ProcessCompleted" && f.value("code").toInt() == 3)
                    return true;
            return false;
        },
        10s));
}

TEST_F(ExampleProgram, ExitsAfterTheGivenTime) {
    QProcess process;
    process.start(MINIMAL_INSTRUMENT_PATH,
                  {"--tarn", QString("127.0.0.1:%1").arg(Host().Port()), "--exit-after", "0.5"});
    ASSERT_TRUE(process.waitForStarted(10000));
    const bool finished = process.waitForFinished(20000);
    if (!finished)
        process.kill();
    EXPECT_TRUE(finished);
    EXPECT_EQ(process.exitCode(), 0);
}

} // namespace
} // namespace sdktest
