// The history entry, the measurement-plan request and the translated time-stamp line, end to end.

#include "HostLinkFixture.h"

#include "TestApplication.h"
#include "TestEnvironment.h"

#include "calder/Window.h"

#include <QString>

#include <fstream>

namespace sendertest {
namespace {

using SenderCommands = HostLinkFixture;

TEST_F(SenderCommands, HistoryUpdateCarriesTheHeadingWithTheLocalTimeTheNoteAndTheLines) {
    Instrument().SendInstrumentHistoryUpdate("Calibration", {"line one", "line two"}, "");
    Instrument().SendInstrumentHistoryUpdate("Check", {}, "all good");
    const std::vector<QJsonObject> frames = Drain();
    ASSERT_EQ(frames.size(), 2u);

    ExpectJsonSubset(
        frames[0], ParseJson(R"({"type":"TarnIPInstReportItem","note":"","lines":["line one","line two"]})"));
    const QString heading = frames[0]["heading"].toString();
    EXPECT_TRUE(heading.startsWith("Calibration (")) << heading.toStdString();
    EXPECT_TRUE(heading.endsWith(")")) << heading.toStdString();
    EXPECT_GT(heading.size(), QString("Calibration ()").size())
        << "no date and time in " << heading.toStdString();

    ExpectJsonSubset(frames[1], ParseJson(R"({"type":"TarnIPInstReportItem","note":"all good","lines":[]})"));
    EXPECT_TRUE(frames[1]["heading"].toString().startsWith("Check ("));
}

TEST_F(SenderCommands, HistoryUpdateAndRemovalSendNothingWhileTheLinkIsDownButPlanRequestsGoOut) {
    TakeLinkDown();
    Instrument().SendInstrumentHistoryUpdate("Calibration", {"line"}, "note");
    Instrument().Remove6DTargetModel();
    Instrument().RunMPByName("Plan while down");
    const std::vector<QJsonObject> frames = Drain();
    ASSERT_EQ(frames.size(), 1u);
    ExpectJsonSubset(frames[0],
                     ParseJson(R"({"type":"TarnPPRunMP","planName":"Plan while down","runOption":1})"));
}

TEST_F(SenderCommands, PlanRequestCarriesTheNameAndRunOptionOne) {
    Instrument().RunMPByName("Plan A");
    const std::vector<QJsonObject> frames = Drain();
    ASSERT_EQ(frames.size(), 1u);
    ExpectJsonSubset(frames[0], ParseJson(R"({"type":"TarnPPRunMP","planName":"Plan A","runOption":1})"));
}

TEST(SenderCommandsWithoutLogon, PlanRequestWithoutASocketIsDropped) {
    testsupport::ScopedTestEnvironment env;
    testsupport::EnsureApplication();
    TarnInstrument instrument(*new Messenger());
    instrument.RunMPByName("Plan without a host");
    instrument.SendInstrumentHistoryUpdate("Calibration", {}, "");
    EXPECT_FALSE(instrument.IsConnectedToTarn());
}

// The time-stamp line of a frame is the translated format; a translation that does not take
// exactly one number is not trusted as a format.
TEST_F(SenderCommands, TimeStampLineFollowsTheTranslationTableUnlessItIsNoNumberFormat) {
    struct Row {
        const char* translation;
        const char* line;
    };
    const Row rows[] = {
        {"Zeitstempel, %f", "Zeitstempel, 1.500000"},
        {"Zeit %.2f s", "Zeit 1.50 s"},
        {"Zeit %s", "TimeStamp, 1.500000"},
        {"Zeit %f %f", "TimeStamp, 1.500000"},
        {"Zeit %n", "TimeStamp, 1.500000"},
        {"Zeit ohne Zahl", "TimeStamp, 1.500000"},
        {"100%% %f", "100% 1.500000"},
    };
    const std::string table = (Env().root() / "translations.txt").string();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.translation);
        {
            std::ofstream out(table, std::ios::trunc);
            out << "TimeStamp, %f\t" << row.translation << "\n";
        }
        ASSERT_TRUE(CalderLang::LoadTable(table));
        Tarnxform frame;
        Instrument().SendFrameDataToTarn(frame, 1.5, false, false, false, "Obj", "Col", {}, 0, 0);
        CalderLang::ClearTable();
        const std::vector<QJsonObject> frames = Drain();
        ASSERT_EQ(frames.size(), 1u);
        ExpectJsonSubset(frames[0],
                         ParseJson(std::string(R"({"textLines":[")") + row.line + R"(","Object <Obj>"]})"));
    }
}

} // namespace
} // namespace sendertest
