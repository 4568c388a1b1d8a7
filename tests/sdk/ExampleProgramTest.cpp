// The example instrument program, built against the public headers only, run against the host
// simulator: it logs on, sends its point, answers commands as its Messenger decides and follows
// the heartbeat.

#include "SdkTestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

#ifndef TARN_HOST_SIM_PATH
#error "TARN_HOST_SIM_PATH must name the host simulator program"
#endif
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

// Both programs as a user runs them: the simulator program with its commands on standard input,
// the example given the simulator's socket on its command line.
class TwoPrograms : public ::testing::Test {
protected:
    void TearDown() override {
        for (QProcess* p : {&instrument_, &host_}) {
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }

    // Reads the process's channel until `text` has appeared in it.
    static bool WaitForText(QProcess& p, std::string& seen, const std::string& text, bool fromStderr) {
        return DispatchUntil(
            [&] {
                seen += (fromStderr ? p.readAllStandardError() : p.readAllStandardOutput()).toStdString();
                return seen.find(text) != std::string::npos;
            },
            20s);
    }
    void Tell(const std::string& command) {
        host_.write((command + "\n").c_str());
        host_.waitForBytesWritten(5000);
    }

    testsupport::ScopedTestEnvironment env_;
    QProcess host_;
    QProcess instrument_;
    std::string hostErr_, out_;
};

TEST_F(TwoPrograms, ExampleAnswersTheSimulatorProgram) {
    testsupport::EnsureApplication();
    const QString journal = QString::fromStdString((env_.root() / "journal.jsonl").string());
    host_.start(TARN_HOST_SIM_PATH, {"--port", "0", "--journal", journal});
    ASSERT_TRUE(host_.waitForStarted(10000));
    ASSERT_TRUE(WaitForText(host_, hostErr_, "listening on 127.0.0.1:", true)) << hostErr_;
    const std::size_t at =
        hostErr_.find("listening on 127.0.0.1:") + std::string("listening on 127.0.0.1:").size();
    const std::string port = hostErr_.substr(at, hostErr_.find_first_not_of("0123456789", at) - at);
    ASSERT_FALSE(port.empty()) << hostErr_;

    instrument_.start(MINIMAL_INSTRUMENT_PATH,
                      {"--tarn", QString::fromStdString("127.0.0.1:" + port), "--exit-after", "30"});
    ASSERT_TRUE(instrument_.waitForStarted(10000));
    ASSERT_TRUE(WaitForText(instrument_, out_, "point sent\n", false)) << out_;

    Tell("opcheck warmup");
    ASSERT_TRUE(WaitForText(instrument_, out_, "opcheck warmup accepted\n", false)) << out_;
    Tell("heartbeat off");
    ASSERT_TRUE(WaitForText(instrument_, out_, "link down\n", false)) << out_;
    Tell("heartbeat on");
    ASSERT_TRUE(WaitForText(instrument_, out_, "link up\n", false)) << out_;
    Tell("quit");
    ASSERT_TRUE(host_.waitForFinished(10000));
    EXPECT_EQ(host_.exitCode(), 0);

    QFile file(journal);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string lines = file.readAll().toStdString();
    EXPECT_NE(lines.find("\"type\":\"TarnIPMeasurement\""), std::string::npos) << lines;
    EXPECT_NE(lines.find("\"type\":\"ProcessCompleted\""), std::string::npos) << lines;
}

} // namespace
} // namespace sdktest
