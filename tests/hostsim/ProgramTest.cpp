// The tarn-host-sim program end to end: arguments, script, standard input, journal file,
// discovery, signals and the summary at exit.

#include "RawInstrument.h"
#include "TestApplication.h"
#include "TestEnvironment.h"

#include "calder/Discovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <fstream>
#include <sstream>

namespace hostsimtest {
namespace {

using ::testing::HasSubstr;

// Runs the program; kills it when the test ends, whatever happened.
class Program {
public:
    explicit Program(const QStringList& arguments) {
        process_.setProgram(QStringLiteral(TARN_HOST_SIM_PATH));
        process_.setArguments(arguments);
        process_.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        process_.start();
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    QProcess& process() { return process_; }

    // Reads standard error until the ready line appears; returns its port, 0 on failure.
    unsigned WaitForListening() {
        const QRegularExpression ready(QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            stderr_ += process_.readAllStandardError().toStdString();
            const QRegularExpressionMatch match = ready.match(QString::fromStdString(stderr_));
            if (match.hasMatch())
                return match.captured(1).toUInt();
            if (process_.state() == QProcess::NotRunning)
                return 0;
            process_.waitForReadyRead(100);
        }
        return 0;
    }

    bool Finish(int timeoutMs = 20000) {
        const bool done = process_.waitForFinished(timeoutMs);
        stderr_ += process_.readAllStandardError().toStdString();
        stdout_ += process_.readAllStandardOutput().toStdString();
        return done;
    }

    const std::string& err() const { return stderr_; }
    const std::string& out() const { return stdout_; }

private:
    QProcess process_;
    std::string stderr_;
    std::string stdout_;
};

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool WaitForFileLine(const std::filesystem::path& path, const std::string& needle, int timeoutMs = 10000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const std::string& line : ReadLines(path)) {
            if (line.find(needle) != std::string::npos)
                return true;
        }
        QThread::msleep(10);
    }
    return false;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EnsureApplication(); }
    testsupport::ScopedTestEnvironment env_;
};

TEST_F(ProgramTest, BadArgumentsPrintTheUsageAndExitWithTwo) {
    const std::vector<QStringList> cases = {
        {"--port", "x"},
        {"--port", "70000"},
        {"--port"},
        {"--bogus"},
        {"--types", "212,abc"},
        {"--heartbeat-ms", "0"},
        {"--script", (env_.root() / "missing.txt").c_str()},
    };
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        Program program(arguments);
        ASSERT_TRUE(program.Finish());
        EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.process().exitCode(), 2);
        EXPECT_THAT(program.err(), HasSubstr("tarn-host-sim: "));
    }
    Program usage({"--port", "x"});
    ASSERT_TRUE(usage.Finish());
    EXPECT_THAT(usage.err(), HasSubstr("usage: tarn-host-sim"));
}

TEST_F(ProgramTest, RunsItsScriptAndEndsWhenScriptAndStandardInputAreDone) {
    const std::filesystem::path journal = env_.root() / "journal.jsonl";
    const std::filesystem::path script = env_.root() / "script.txt";
    std::ofstream(script) << "# names for the instrument\n"
                             "waitlogon 30000\n"
                             "names \"Coll 1\" G1 -\n"
                             "startstop 1\n";
    Program program({"--port", "0", "--journal", journal.c_str(), "--script", script.c_str(), "--label",
                     "Scripted Host", "--types", "212,9", "--heartbeat-ms", "30"});
    // Standard input ends at once; the script still waiting for a logon keeps the program up.
    program.process().closeWriteChannel();
    const unsigned port = program.WaitForListening();
    ASSERT_NE(port, 0u) << program.err();

    const std::vector<calder::discovery::Entry> entries = calder::discovery::List();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, "Scripted Host");
    EXPECT_EQ(entries[0].port, port);
    EXPECT_EQ(entries[0].instrumentTypes, (std::vector<unsigned>{212, 9}));

    RawInstrument instrument;
    ASSERT_TRUE(instrument.Connect(port));
    ASSERT_TRUE(instrument.Logon(212, "Orrin"));
    const auto alive = instrument.NextPacket();
    ASSERT_TRUE(alive && alive->has_linkalive()) << (program.Finish(), program.err());
    const auto names = instrument.NextPacket();
    ASSERT_TRUE(names && names->has_names());
    EXPECT_EQ(names->names().firsttext(), "Coll 1");
    EXPECT_EQ(names->names().thirdtext(), "");
    const auto start = instrument.NextPacket();
    ASSERT_TRUE(start && start->has_startstop());
    EXPECT_EQ(start->startstop().mode(), 1);

    ASSERT_TRUE(program.Finish());
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process().exitCode(), 0) << program.err();
    EXPECT_THAT(program.out(), HasSubstr("  Logon 1\n"));
    EXPECT_THAT(program.out(), HasSubstr("  Names 1\n"));
    EXPECT_TRUE(calder::discovery::List().empty()) << "the discovery entry outlived the program";

    const std::vector<std::string> lines = ReadLines(journal);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_THAT(lines[0], HasSubstr(R"("dir":"in")"));
    EXPECT_THAT(lines[0], HasSubstr(R"("type":"Logon")"));
    EXPECT_THAT(lines[0], HasSubstr(R"("instrumentType":212,"instrumentName":"Orrin")"));
    EXPECT_THAT(lines[1], HasSubstr(R"("type":"LinkAlive")"));
    EXPECT_THAT(
        lines[2],
        HasSubstr(R"("type":"Names","link":1,"firstText":"Coll 1","secondText":"G1","thirdText":"")"));
    EXPECT_THAT(lines[3], HasSubstr(R"("type":"StartStop","link":1,"mode":1)"));
}

TEST_F(ProgramTest, TakesCommandsFromStandardInputAndEndsOnSigterm) {
    const std::filesystem::path journal = env_.root() / "journal.jsonl";
    Program program({"--port", "0", "--journal", journal.c_str()});
    const unsigned port = program.WaitForListening();
    ASSERT_NE(port, 0u) << program.err();
    EXPECT_EQ(calder::discovery::List().size(), 1u);

    RawInstrument instrument;
    ASSERT_TRUE(instrument.Connect(port));
    ASSERT_TRUE(instrument.Logon());
    ASSERT_TRUE(instrument.NextPacket());
    ASSERT_TRUE(WaitForFileLine(journal, R"("type":"LinkAlive")"));

    program.process().write("bogus command\nopcheck Check it\n");
    ASSERT_TRUE(program.process().waitForBytesWritten(10000));
    const auto opcheck = instrument.NextPacket();
    ASSERT_TRUE(opcheck && opcheck->has_opcheck());
    EXPECT_EQ(opcheck->opcheck().command(), "Check it");
    calder::HostFrame done;
    done.mutable_processcompleted()->set_code(2);
    done.mutable_processcompleted()->set_command("OpCheck");
    ASSERT_TRUE(instrument.Write(done, 1));
    ASSERT_TRUE(
        WaitForFileLine(journal, R"("type":"ProcessCompleted","link":1,"code":2,"command":"OpCheck")"));

    program.process().terminate(); // SIGTERM
    ASSERT_TRUE(program.Finish());
    EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process().exitCode(), 0);
    EXPECT_THAT(program.err(), HasSubstr("stdin line 1: unknown command 'bogus'"));
    EXPECT_THAT(program.out(), HasSubstr("  ProcessCompleted 1\n"));
    EXPECT_THAT(program.out(), HasSubstr("  OpCheck 1\n"));
    EXPECT_TRUE(calder::discovery::List().empty());
    EXPECT_TRUE(instrument.WaitForClose());
}

TEST_F(ProgramTest, QuitFromStandardInputEndsAWaitingScript) {
    const std::filesystem::path script = env_.root() / "script.txt";
    std::ofstream(script) << "wait 600000\n";
    Program program({"--port", "0", "--script", script.c_str(), "--no-announce"});
    ASSERT_NE(program.WaitForListening(), 0u) << program.err();
    EXPECT_TRUE(calder::discovery::List().empty());
    program.process().write("quit\n");
    ASSERT_TRUE(program.process().waitForBytesWritten(10000));
    ASSERT_TRUE(program.Finish());
    EXPECT_EQ(program.process().exitCode(), 0);
    EXPECT_THAT(program.out(), HasSubstr("summary: received 0 packets, sent 0 packets"));
}

} // namespace
} // namespace hostsimtest
