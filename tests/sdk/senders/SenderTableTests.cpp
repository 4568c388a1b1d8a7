// Every sender row, end to end: over a logged-on link, with the link down, and on an instrument
// that never logged on.

#include "HostLinkFixture.h"
#include "SenderCases.h"

#include "TestApplication.h"
#include "TestEnvironment.h"

namespace sendertest {
namespace {

std::vector<SenderCase> AllCases() {
    std::vector<SenderCase> rows = MeasurementCases();
    for (auto* more : {&FrameCases, &GeometryCases}) {
        std::vector<SenderCase> part = more();
        rows.insert(rows.end(), std::make_move_iterator(part.begin()), std::make_move_iterator(part.end()));
    }
    return rows;
}

using SenderTable = HostLinkFixture;

TEST_F(SenderTable, ConvertTheCallersObjectsAndDeliverTheirPacketsInTheirWrites) {
    for (const SenderCase& row : AllCases()) {
        SCOPED_TRACE(row.name);
        ExpectJsonSubset(row.send(Instrument()), ParseJson(row.caller), "caller");
        const std::vector<QJsonObject> frames = Drain();
        ExpectJsonSubset(ToArray(frames), ParseJson(row.packets), "host");
        EXPECT_EQ(Writes(frames), row.writes);
    }
}

TEST_F(SenderTable, WhileTheHostLinkIsDownConvertButSendNothing) {
    TakeLinkDown();
    for (const SenderCase& row : AllCases()) {
        SCOPED_TRACE(row.name);
        ExpectJsonSubset(row.send(Instrument()),
                         ParseJson(row.callerWhenDown.empty() ? row.caller : row.callerWhenDown), "caller");
        EXPECT_EQ(ToArray(Drain()), QJsonArray());
    }
}

TEST(SenderTableWithoutLogon, ConvertTheCallersObjectsAndSendNothing) {
    testsupport::ScopedTestEnvironment env;
    testsupport::EnsureApplication();
    TarnInstrument instrument(*new Messenger());
    ASSERT_TRUE(instrument.SetDistUnit(4));
    for (const SenderCase& row : AllCases()) {
        SCOPED_TRACE(row.name);
        ExpectJsonSubset(row.send(instrument),
                         ParseJson(row.callerWhenDown.empty() ? row.caller : row.callerWhenDown), "caller");
    }
    EXPECT_FALSE(instrument.IsConnectedToTarn());
}

} // namespace
} // namespace sendertest
