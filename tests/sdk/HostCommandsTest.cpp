// The host's commands reach the Messenger, and the Messenger's verdict reaches the host.

#include "SdkTestSupport.h"

#include <QJsonObject>

#include <gtest/gtest.h>

#include <ostream>

#include <stdexcept>
#include <string>
#include <vector>

namespace sdktest {
namespace {

// The answers the host received, in order: "code N" for a completion, "flags N" for a flags
// packet, each with the command the completion names.
std::vector<std::string> Answers(const tarnhostsim::HostSimulator& host) {
    std::vector<std::string> out;
    for (const QJsonObject& frame : host.Received()) {
        const std::string type = frame.value("type").toString().toStdString();
        if (type == "ProcessCompleted")
            out.push_back("code " + std::to_string(frame.value("code").toInt()) + " " +
                          frame.value("command").toString().toStdString());
        else if (type == "TarnIPFlags")
            out.push_back("flags " + std::to_string(frame.value("flags").toInt()));
    }
    return out;
}

struct CommandCase {
    const char* label;
    const char* command;
    bool accept;
    std::vector<std::string> calls;   // Messenger calls
    std::vector<std::string> answers; // what the host gets back
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.label;
}

class HostCommand : public HostTest, public ::testing::WithParamInterface<CommandCase> {};

// After the command, an op-check marks the end: the link keeps the order, so once the mark's
// answer is in, every answer to the command is in too, and a missing one is missing for good.
TEST_P(HostCommand, MessengerDecidesTheAnswer) {
    const CommandCase& c = GetParam();
    MakeInstrument(c.accept);
    ASSERT_TRUE(LogOn());
    std::string error;
    ASSERT_TRUE(Host().Execute(c.command, &error)) << error;
    ASSERT_TRUE(Host().Execute("opcheck mark", &error)) << error;
    const std::string markAnswer = std::string("code ") + (c.accept ? "2" : "3") + " OpCheck";
    ASSERT_TRUE(DispatchUntil([&] {
        const auto answers = Answers(Host());
        return !answers.empty() && answers.back() == markAnswer && Log().opCheckCommand == "mark";
    })) << "the mark was not answered";

    std::vector<std::string> calls = Log().calls;
    ASSERT_FALSE(calls.empty());
    calls.pop_back(); // the mark
    EXPECT_EQ(calls, c.calls);
    std::vector<std::string> answers = Answers(Host());
    answers.pop_back();
    EXPECT_EQ(answers, c.answers);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostCommand,
    ::testing::Values(
        CommandCase{"startAccepted", "start", true, {"begin"}, {"code 2 StartStop"}},
        CommandCase{"startRefused", "start", false, {"begin"}, {"code 3 StartStop"}},
        CommandCase{"stopAccepted", "stop", true, {"stop"}, {"code 2 StartStop"}},
        CommandCase{"stopRefused", "stop", false, {"stop"}, {"code 3 StartStop"}},
        CommandCase{"startstopMode1", "startstop 1", false, {"begin"}, {"code 3 StartStop"}},
        CommandCase{"startstopMode2Ignored", "startstop 2", true, {}, {}},
        CommandCase{"startstopNegativeIgnored", "startstop -1", false, {}, {}},
        CommandCase{"startMeasuringAccepted", "startmeasuring", true, {"begin"}, {}},
        CommandCase{"startMeasuringRefused", "startmeasuring", false, {"begin"}, {"flags 2"}},
        CommandCase{"opcheckAccepted", "opcheck \"warm up\"", true, {"opcheck"}, {"code 2 OpCheck"}},
        CommandCase{"opcheckRefused", "opcheck \"warm up\"", false, {"opcheck"}, {"code 3 OpCheck"}},
        CommandCase{"batchAccepted", "batch _M _N G1,P1,T1,1,0,0", true, {"batch"}, {"code 2 Batch"}},
        CommandCase{"batchRefused", "batch _M _N G1,P1,T1,1,0,0", false, {"batch"}, {"code 4 Batch"}},
        CommandCase{"emptyBatchAccepted", "batch _M _N", true, {"batch"}, {"code 2 Batch"}},
        CommandCase{"emptyBatchRefused", "batch _M _N", false, {"batch"}, {"code 4 Batch"}},
        CommandCase{"namesNotAnswered", "names C G T", false, {"names"}, {}},
        CommandCase{"proximityDropped", "proximity 3", true, {}, {}},
        CommandCase{"emptyProximityDropped", "proximity 0", true, {}, {}},
        CommandCase{"transformNotAnswered", "transform", true, {}, {}}),
    [](const ::testing::TestParamInfo<CommandCase>& param) { return std::string(param.param.label); });

using HostCommandContents = HostTest;

TEST_F(HostCommandContents, NamesArriveInPacketOrder) {
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(Host().Execute("names Coll \"Group 2\" T-7"));
    ASSERT_TRUE(DispatchUntil([&] { return !Log().calls.empty(); }));
    EXPECT_EQ(Log().names, (std::vector<std::string>{"Coll", "Group 2", "T-7"}));
}

TEST_F(HostCommandContents, OpCheckTextArrivesNarrowed) {
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(Host().Execute("opcheck \"Check ä 1\""));
    ASSERT_TRUE(DispatchUntil([&] { return !Log().calls.empty(); }));
    // The text crosses the interface in the C locale's multibyte form; its ASCII part is intact.
    EXPECT_EQ(Log().opCheckCommand.substr(0, 6), "Check ");
    EXPECT_EQ(Log().opCheckCommand.back(), '1');
}

struct BatchCase {
    const char* label;
    int unit;
    const char* list;
    std::vector<Tarnvector> positions;
};

void PrintTo(const BatchCase& c, std::ostream* os) {
    *os << c.label;
}

class BatchConversion : public HostTest, public ::testing::WithParamInterface<BatchCase> {};

TEST_P(BatchConversion, PositionsInTheInstrumentsUnitAndSuffixesAppended) {
    const BatchCase& c = GetParam();
    ASSERT_TRUE(LogOn());
    ASSERT_TRUE(Instrument().SetDistUnit(c.unit));
    ASSERT_TRUE(Host().Execute(std::string("batch _M _N ") + c.list));
    ASSERT_TRUE(DispatchUntil([&] { return !Log().calls.empty(); }));
    ASSERT_EQ(Log().positions.size(), c.positions.size());
    ASSERT_EQ(Log().texts1.size(), c.positions.size());
    ASSERT_EQ(Log().texts2.size(), c.positions.size());
    ASSERT_EQ(Log().texts3.size(), c.positions.size());
    for (std::size_t i = 0; i < c.positions.size(); ++i) {
        EXPECT_DOUBLE_EQ(Log().positions[i].x, c.positions[i].x) << i;
        EXPECT_DOUBLE_EQ(Log().positions[i].y, c.positions[i].y) << i;
        EXPECT_DOUBLE_EQ(Log().positions[i].z, c.positions[i].z) << i;
    }
    if (!c.positions.empty()) {
        EXPECT_EQ(Log().texts1[0], "G1");
        EXPECT_EQ(Log().texts2[0], "P1_M");
        EXPECT_EQ(Log().texts3[0], "T1_N");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BatchConversion,
    ::testing::Values(BatchCase{"millimetres", 4, "G1,P1,T1,1,0,0", {{25.4, 0, 0}}},
                      BatchCase{"inches", 1, "G1,P1,T1,1,-2,3.5", {{1, -2, 3.5}}},
                      BatchCase{"feet", 0, "G1,P1,T1,12,24,-6", {{1, 2, -0.5}}},
                      BatchCase{"metres", 2, "G1,P1,T1,39.37007874015748,0,0", {{1, 0, 0}}},
                      BatchCase{"severalInOrder",
                                3,
                                "G1,P1,T1,1,0,0;G2,P2,T2,0,1,0;G3,P3,T3,0,0,1",
                                {{2.54, 0, 0}, {0, 2.54, 0}, {0, 0, 2.54}}},
                      BatchCase{"empty", 4, "", {}}),
    [](const ::testing::TestParamInfo<BatchCase>& param) { return std::string(param.param.label); });

TEST_F(HostCommandContents, DefaultMessengerRefusesEverything) {
    instrument_ = std::make_unique<TarnInstrument>(*new Messenger);
    ASSERT_TRUE(LogOn());
    for (const char* command :
         {"start", "stop", "batch - - A,B,C,1,2,3", "opcheck x", "startmeasuring", "names a b c"})
        ASSERT_TRUE(Host().Execute(command)) << command;
    ASSERT_TRUE(DispatchUntil([&] { return Answers(Host()).size() >= 5; }));
    EXPECT_EQ(Answers(Host()), (std::vector<std::string>{"code 3 StartStop", "code 3 StartStop",
                                                         "code 4 Batch", "code 3 OpCheck", "flags 2"}));
}

// A Messenger whose every call throws.
class ThrowingMessenger : public Messenger {
public:
    void CollectionGroupTargetNamesFromTarn(std::string, std::string, std::string) override { Throw(); }
    bool BeginMeasureMessageFromTarn() override { return Throw(); }
    bool StopMeasureMessageFromTarn() override { return Throw(); }
    bool BatchMeasPointsFromTarn(std::vector<std::string>, std::vector<std::string>, std::vector<std::string>,
                                 std::vector<Tarnvector>) override {
        return Throw();
    }
    bool OpCheckCommandFromTarn(std::string) override { return Throw(); }

private:
    static bool Throw() { throw std::runtime_error("instrument program failure"); }
};

TEST_F(HostCommandContents, ThrowingMessengerCountsAsRefusing) {
    instrument_ = std::make_unique<TarnInstrument>(*new ThrowingMessenger);
    ASSERT_TRUE(LogOn());
    for (const char* command :
         {"names a b c", "start", "stop", "batch - - A,B,C,1,2,3", "opcheck x", "startmeasuring"})
        ASSERT_TRUE(Host().Execute(command)) << command;
    ASSERT_TRUE(DispatchUntil([&] { return Answers(Host()).size() >= 5; }));
    EXPECT_EQ(Answers(Host()), (std::vector<std::string>{"code 3 StartStop", "code 3 StartStop",
                                                         "code 4 Batch", "code 3 OpCheck", "flags 2"}));
    EXPECT_TRUE(Instrument().IsConnectedToTarn());
}

} // namespace
} // namespace sdktest
