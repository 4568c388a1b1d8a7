// The host simulator in-process, driven by a bare loopback instrument.

#include "RawInstrument.h"
#include "TestEnvironment.h"

#include "calder/Discovery.h"
#include "calder/Packets.h"
#include "calder/QuickSock.h"
#include "tarnhostsim/HostSimulator.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace hostsimtest {
namespace {

using tarnhostsim::HostSimulator;
using tarnhostsim::Options;
using ::testing::HasSubstr;

QJsonObject ParseObject(const std::string& json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json;
    return document.object();
}

std::string Text(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// Every key of `expected` is in `actual` with the same value.
::testing::AssertionResult Contains(const QJsonObject& actual, const QJsonObject& expected) {
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (!actual.contains(it.key()))
            return ::testing::AssertionFailure()
                   << "no \"" << it.key().toStdString() << "\" in " << Text(actual);
        if (actual.value(it.key()) != it.value())
            return ::testing::AssertionFailure()
                   << "\"" << it.key().toStdString() << "\" differs: " << Text(actual) << " expected "
                   << Text(expected);
    }
    return ::testing::AssertionSuccess();
}

class HostSimTest : public ::testing::Test {
protected:
    Options MakeOptions() {
        Options options;
        options.heartbeatPeriod = std::chrono::milliseconds(20);
        options.announce = false;
        options.log = [this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_.push_back(line);
        };
        return options;
    }

    void StartSimulator(Options options) {
        sim_ = std::make_unique<HostSimulator>(std::move(options));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
        ASSERT_NE(sim_->Port(), 0u);
    }
    void StartSimulator() { StartSimulator(MakeOptions()); }

    // A raw instrument that has logged on and received its link-alive.
    void LogOn(RawInstrument& instrument, std::size_t expectedLoggedOn = 1) {
        ASSERT_TRUE(instrument.Connect(sim_->Port()));
        ASSERT_TRUE(instrument.Logon());
        const auto alive = instrument.NextPacket();
        ASSERT_TRUE(alive && alive->has_linkalive());
        ASSERT_TRUE(sim_->WaitForLoggedOn(expectedLoggedOn, 10s));
    }

    bool Execute(const std::string& line) {
        std::string error;
        const bool ok = sim_->Execute(line, &error);
        EXPECT_TRUE(ok) << line << ": " << error;
        return ok;
    }

    testsupport::ScopedTestEnvironment env_;
    std::mutex logMutex_;
    std::vector<std::string> log_;
    std::unique_ptr<HostSimulator> sim_;
};

TEST_F(HostSimTest, LogonIsAnsweredWithLinkAliveThenHeartbeatsWhichAreNotJournaled) {
    StartSimulator();
    RawInstrument instrument;
    ASSERT_TRUE(instrument.Connect(sim_->Port()));
    ASSERT_TRUE(instrument.Logon(212, "Orrin"));

    const auto first = instrument.NextFrame();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->has_linkalive()) << first->DebugString();
    for (int i = 0; i < 3; ++i) {
        const auto beat = instrument.NextFrame();
        ASSERT_TRUE(beat);
        EXPECT_TRUE(beat->has_heartbeat()) << beat->DebugString();
    }

    const std::vector<QJsonObject> journal = sim_->Journal();
    ASSERT_EQ(journal.size(), 2u) << "heartbeats must not be journaled";
    EXPECT_TRUE(Contains(journal[0], ParseObject(R"({"dir":"in","type":"Logon","instrumentType":212,
                                                    "instrumentName":"Orrin"})")));
    EXPECT_TRUE(Contains(journal[1], ParseObject(R"({"dir":"out","type":"LinkAlive"})")));
    EXPECT_EQ(sim_->LoggedOnInstruments(), 1u);
    EXPECT_GE(sim_->Counts().heartbeatsSent, 3u);
}

TEST_F(HostSimTest, HeartbeatOffStopsBeatsAndOnResumesThem) {
    StartSimulator();
    RawInstrument instrument;
    LogOn(instrument);
    const auto running = instrument.NextFrame();
    ASSERT_TRUE(running && running->has_heartbeat());

    ASSERT_TRUE(Execute("heartbeat off"));
    // Drain what was sent before the command returned; after that nothing may come for many
    // periods (20 ms each).
    while (instrument.NextFrame(0ms)) {
    }
    EXPECT_FALSE(instrument.NextFrame(300ms)) << "a heartbeat arrived after heartbeat off";

    ASSERT_TRUE(Execute("heartbeat on"));
    const auto beat = instrument.NextFrame();
    ASSERT_TRUE(beat);
    EXPECT_TRUE(beat->has_heartbeat());
    EXPECT_TRUE(sim_->Sent("Heartbeat").empty());
}

TEST_F(HostSimTest, ACommandWaitingForTheLogonNeverOvertakesTheLinkAlive) {
    StartSimulator();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        std::thread script([&] {
            std::string error;
            EXPECT_TRUE(sim_->Execute("waitlogon 10000", &error)) << error;
            EXPECT_TRUE(sim_->Execute("names A B C", &error)) << error;
        });
        RawInstrument instrument;
        ASSERT_TRUE(instrument.Connect(sim_->Port()));
        ASSERT_TRUE(instrument.Logon());
        const auto first = instrument.NextPacket();
        const auto second = instrument.NextPacket();
        script.join();
        ASSERT_TRUE(first && second);
        EXPECT_TRUE(first->has_linkalive()) << first->DebugString();
        EXPECT_TRUE(second->has_names()) << second->DebugString();
        ASSERT_TRUE(Execute("close"));
    }
}

struct CommandCase {
    const char* command;
    const char* expected; // JSON the journal entry (and the received frame) must contain
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.command;
}

class CommandTest : public HostSimTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, SendsItsFrameAndJournalsIt) {
    StartSimulator();
    RawInstrument instrument;
    LogOn(instrument);
    const CommandCase& c = GetParam();
    const std::size_t before = sim_->Journal().size();

    ASSERT_TRUE(Execute(c.command));

    const auto frame = instrument.NextPacket();
    ASSERT_TRUE(frame);
    const std::vector<QJsonObject> journal = sim_->Journal();
    ASSERT_EQ(journal.size(), before + 1);
    const QJsonObject& entry = journal.back();
    const QJsonObject expected = ParseObject(c.expected);
    EXPECT_TRUE(Contains(entry, expected));
    EXPECT_EQ(entry.value("dir").toString(), "out");
    EXPECT_TRUE(entry.value("batch").isDouble());
    // What arrived is what was journaled: the same packet, field for field.
    EXPECT_EQ(frame->GetDescriptor()
                  ->FindFieldByNumber(static_cast<int>(frame->packet_case()))
                  ->message_type()
                  ->name(),
              entry.value("type").toString().toStdString());
    EXPECT_EQ(entry, [&] {
        // Journal the received frame the same way by sending it back and reading the "in" line.
        RawInstrument echo;
        EXPECT_TRUE(echo.Connect(sim_->Port()));
        EXPECT_TRUE(echo.Write(*frame));
        EXPECT_TRUE(sim_->WaitFor([&](const auto& j) { return j.size() == before + 2; }, 10s));
        QJsonObject in = sim_->Journal().back();
        EXPECT_EQ(in.value("dir").toString(), "in");
        in["dir"] = "out";
        in["batch"] = entry.value("batch");
        in["link"] = entry.value("link");
        return in;
    }());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTest,
    ::testing::Values(
        CommandCase{"names Coll1 Group1 Target1",
                    R"({"type":"Names","firstText":"Coll1","secondText":"Group1","thirdText":"Target1"})"},
        CommandCase{R"(names - "Group two" "")",
                    R"({"type":"Names","firstText":"","secondText":"Group two","thirdText":""})"},
        CommandCase{R"(names "-" "say \"hi\"" Ünïcødé)",
                    R"({"type":"Names","firstText":"-","secondText":"say \"hi\"","thirdText":"Ünïcødé"})"},
        CommandCase{"start", R"({"type":"StartStop","mode":1})"},
        CommandCase{"stop", R"({"type":"StartStop","mode":0})"},
        CommandCase{"startstop 2", R"({"type":"StartStop","mode":2})"},
        CommandCase{"startstop -7", R"({"type":"StartStop","mode":-7})"},
        CommandCase{"STARTMEASURING", R"({"type":"StartMeasuring"})"},
        CommandCase{"batch _M _N P1,G1,T1,1,2,3;P2,G2,-,4.5,-5,6e-3",
                    R"({"type":"Batch","firstSuffix":"_M","secondSuffix":"_N","elements":[
                        {"type":"BatchElement","elementText1":"P1","elementText2":"G1","elementText3":"T1",
                         "position":[1,2,3]},
                        {"type":"BatchElement","elementText1":"P2","elementText2":"G2","elementText3":"",
                         "position":[4.5,-5,0.006]}]})"},
        CommandCase{R"(batch - - "Point 1,G 1,,0.1,0.2,0.3;")",
                    R"({"type":"Batch","firstSuffix":"","secondSuffix":"","elements":[
                        {"type":"BatchElement","elementText1":"Point 1","elementText2":"G 1","elementText3":"",
                         "position":[0.1,0.2,0.3]}]})"},
        CommandCase{"batch _M _N",
                    R"({"type":"Batch","firstSuffix":"_M","secondSuffix":"_N","elements":[]})"},
        CommandCase{"batch _M _N -", R"({"type":"Batch","elements":[]})"},
        CommandCase{"opcheck   Run the check  now", R"({"type":"OpCheck","command":"Run the check  now"})"},
        CommandCase{R"(opcheck "  padded ")", R"({"type":"OpCheck","command":"  padded "})"},
        CommandCase{"opcheck", R"({"type":"OpCheck","command":""})"},
        CommandCase{"proximity 0", R"({"type":"AutoMeasProximity","elements":[]})"},
        CommandCase{"proximity 2", R"({"type":"AutoMeasProximity","elements":[
                        {"type":"ProximityElement","text":"P1","position":[1,2,3],"flag":true,"value":0.25},
                        {"type":"ProximityElement","text":"P2","position":[2,4,6],"flag":false,"value":0.5}]})"},
        CommandCase{"transform", R"({"type":"InstrumentTransformChanged",
                        "transform":[0,-1,0,10, 1,0,0,20, 0,0,1,30, 0,0,0,1]})"},
        CommandCase{"transform 1 0 0 0.5 0 1 0 -2 0 0 1 1e3 0 0 0 1",
                    R"({"type":"InstrumentTransformChanged",
                        "transform":[1,0,0,0.5, 0,1,0,-2, 0,0,1,1000, 0,0,0,1]})"}),
    [](const ::testing::TestParamInfo<CommandCase>& param) {
        // The command word and the case's position, e.g. "batch_8".
        std::string name;
        for (const char* c = param.param.command; *c && *c != ' '; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name + "_" + std::to_string(param.index);
    });

TEST_F(HostSimTest, MalformedCommandsAreRejectedAndSendNothing) {
    StartSimulator();
    RawInstrument instrument;
    LogOn(instrument);
    const std::size_t before = sim_->Journal().size();

    const char* bad[] = {
        "bogus",
        "names A B",
        "names A B C D",
        R"(names "A B C)",
        "start now",
        "stop 1",
        "startstop",
        "startstop x",
        "startstop 1.5",
        "startstop 99999999999",
        "startmeasuring 1",
        "batch _M",
        "batch _M _N 1,2,3",
        "batch _M _N a,b,c,1,2,zz",
        "batch _M _N a,b,c,1,2,nan",
        "batch _M _N a,b,c,1,2,3 extra",
        "proximity",
        "proximity -1",
        "proximity many",
        "proximity 99999999",
        "transform 1 2 3",
        "transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 x",
        "heartbeat",
        "heartbeat maybe",
        "close now",
        "wait",
        "wait -5",
        "wait soon",
        "waitlogon 1 2",
        "quit now",
    };
    for (const char* line : bad) {
        std::string error;
        EXPECT_FALSE(sim_->Execute(line, &error)) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    EXPECT_EQ(sim_->Journal().size(), before);
    EXPECT_FALSE(sim_->QuitRequested());

    // The next frame to arrive is the one of the next good command: nothing slipped out before.
    ASSERT_TRUE(Execute("startmeasuring"));
    const auto frame = instrument.NextPacket();
    ASSERT_TRUE(frame);
    EXPECT_TRUE(frame->has_startmeasuring()) << frame->DebugString();

    // Comments and blank lines are accepted and do nothing.
    EXPECT_TRUE(Execute("# a comment"));
    EXPECT_TRUE(Execute("   "));
    EXPECT_EQ(sim_->Journal().size(), before + 1);
}

TEST_F(HostSimTest, PacketCommandWithoutInstrumentFailsAndQuitIsReported) {
    StartSimulator();
    std::string error;
    EXPECT_FALSE(sim_->Execute("start", &error));
    EXPECT_THAT(error, HasSubstr("no instrument"));
    EXPECT_FALSE(sim_->Execute("waitlogon 0", &error));
    EXPECT_TRUE(sim_->Journal().empty());

    EXPECT_TRUE(Execute("heartbeat off"));
    EXPECT_TRUE(Execute("wait 1"));
    EXPECT_FALSE(sim_->QuitRequested());
    EXPECT_TRUE(Execute("quit"));
    EXPECT_TRUE(sim_->QuitRequested());
    EXPECT_TRUE(sim_->WaitForQuit(0ms));
}

TEST_F(HostSimTest, CommandsGoToEveryConnectedInstrument) {
    StartSimulator();
    RawInstrument a;
    RawInstrument b;
    LogOn(a, 1);
    LogOn(b, 2);
    ASSERT_TRUE(Execute("names C G T"));
    const auto fromA = a.NextPacket();
    const auto fromB = b.NextPacket();
    ASSERT_TRUE(fromA && fromA->has_names());
    ASSERT_TRUE(fromB && fromB->has_names());
    const std::vector<QJsonObject> names = sim_->Sent("Names");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_NE(names[0].value("link"), names[1].value("link"));
    EXPECT_NE(names[0].value("batch"), names[1].value("batch"));
}

TEST_F(HostSimTest, CloseEndsEveryConnectionAndInstrumentsMayComeBack) {
    StartSimulator();
    RawInstrument instrument;
    LogOn(instrument);
    ASSERT_TRUE(Execute("close"));
    EXPECT_TRUE(instrument.WaitForClose());
    EXPECT_EQ(sim_->ConnectedInstruments(), 0u);
    std::string error;
    EXPECT_FALSE(sim_->Execute("start", &error));

    RawInstrument again;
    LogOn(again);
    ASSERT_TRUE(Execute("start"));
    const auto frame = again.NextPacket();
    ASSERT_TRUE(frame && frame->has_startstop());
}

// ---- journal format ----

calder::HostFrame DefaultMeasurement() {
    return MakeFrame([](calder::HostFrame& f) { f.mutable_measurement(); });
}

calder::HostFrame FullMeasurement() {
    return MakeFrame([](calder::HostFrame& f) {
        calder::TarnIPMeasurement* m = f.mutable_measurement();
        m->set_seconddistance(0.1);
        m->set_proberadius(1e-300);
        m->add_textlines("Prüfpunkt µ ✓");
        m->add_textlines("quote \" backslash \\ newline \n tab \t bell \x07");
        m->set_collectionname("Coll");
        m->set_groupname("Grp");
        m->set_targetname("T1");
        m->set_modeflag(-3);
        calder::TarnIPMeasDataUncertXYZ* u = m->add_data()->mutable_uncertxyz();
        u->mutable_position()->set_x(123456789.123456789);
        u->mutable_position()->set_y(-0.5);
        u->mutable_position()->set_z(2.0 / 3.0);
        u->mutable_uncertainty()->set_x(1e-7);
        calder::TarnIPMeasDataEDMTheo* e = m->add_data()->mutable_edmtheo();
        e->set_horizontalangle(45);
        e->mutable_probingdirection()->set_kind(1);
        e->mutable_probingdirection()->mutable_direction()->set_z(1);
        m->add_data(); // a wrapper holding no record
    });
}

TEST_F(HostSimTest, JournalWritesEveryFieldInItsJsonForm) {
    struct Case {
        const char* name;
        calder::HostFrame frame;
        const char* expected; // the whole entry except dir, batch and link
    };
    const std::vector<Case> cases = {
        {"defaults", DefaultMeasurement(),
         R"({"type":"TarnIPMeasurement","secondDistance":0,"probeRadius":0,"textLines":[],"collectionName":"",
             "groupName":"","targetName":"","modeFlag":0,"data":[]})"},
        {"measurement", FullMeasurement(),
         R"({"type":"TarnIPMeasurement","secondDistance":0.1,"probeRadius":1e-300,
             "textLines":["Prüfpunkt µ ✓","quote \" backslash \\ newline \n tab \t bell \u0007"],
             "collectionName":"Coll","groupName":"Grp","targetName":"T1","modeFlag":-3,
             "data":[{"type":"TarnIPMeasDataUncertXYZ",
                      "probingDirection":{"type":"ProbingDirection","kind":0,"direction":[0,0,0],"transform":[]},
                      "position":[123456789.12345679,-0.5,0.6666666666666666],"uncertainty":[1e-7,0,0]},
                     {"type":"TarnIPMeasDataEDMTheo",
                      "probingDirection":{"type":"ProbingDirection","kind":1,"direction":[0,0,1],"transform":[]},
                      "horizontalAngle":45,"verticalAngle":0,"distance":0},
                     null]})"},
        {"frame", MakeFrame([](calder::HostFrame& f) {
             calder::TarnIPGeomFrame* g = f.mutable_geomframe();
             g->set_name("Cam1");
             for (int i = 0; i < 16; ++i)
                 g->mutable_transform()->add_m(i + 0.5);
             g->set_flagc(1);
         }),
         R"({"type":"TarnIPGeomFrame","collectionName":"","name":"Cam1","textLines":[],
             "transform":[0.5,1.5,2.5,3.5,4.5,5.5,6.5,7.5,8.5,9.5,10.5,11.5,12.5,13.5,14.5,15.5],
             "flagA":0,"flagB":0,"flagC":1,"flagD":0,"secondDistance":0,"probeRadius":0})"},
        {"cloud", MakeFrame([](calder::HostFrame& f) {
             calder::TarnIPCloud* c = f.mutable_cloud();
             c->set_collectionname("C");
             c->set_name("Cloud 1");
             for (double v : {1.0, 2.0, 3.0, -4.0, -5.0, -6.5})
                 c->add_points(v);
         }),
         R"({"type":"TarnIPCloud","collectionName":"C","name":"Cloud 1","points":[[1,2,3],[-4,-5,-6.5]]})"},
        {"stripes", MakeFrame([](calder::HostFrame& f) {
             calder::TarnIPScanStripeCloud* s = f.mutable_scanstripecloud();
             calder::ScanStripe* stripe = s->add_stripes();
             for (double v : {0.0, 0.5, 1.0})
                 stripe->add_points(v);
             s->add_stripes();
         }),
         R"({"type":"TarnIPScanStripeCloud","collectionName":"","name":"","stripes":[
                {"type":"ScanStripe","points":[[0,0.5,1]],"transform":[]},
                {"type":"ScanStripe","points":[],"transform":[]}]})"},
        {"point set", MakeFrame([](calder::HostFrame& f) {
             calder::VectorNamed* v = f.mutable_pointsettracking()->add_namedpoints();
             v->set_name("A");
             v->mutable_vector()->set_y(7);
         }),
         R"({"type":"TarnIPPointSetTracking","namedPoints":[{"type":"VectorNamed","name":"A","vector":[0,7,0]}]})"},
        {"cmm", MakeFrame([](calder::HostFrame& f) {
             calder::TarnIPMeasDataCMM* c = f.mutable_update()->add_data()->mutable_cmm();
             c->set_auxrows(2);
             c->add_auxvalues(1.25);
             c->add_auxvalues(-2);
         }),
         R"({"type":"TarnIPUpdate","secondDistance":0,"probeRadius":0,"data":[{"type":"TarnIPMeasDataCMM",
             "probingDirection":{"type":"ProbingDirection","kind":0,"direction":[0,0,0],"transform":[]},
             "position":[0,0,0],"auxRows":2,"auxColumns":0,"auxValues":[1.25,-2]}]})"},
        {"completion", MakeFrame([](calder::HostFrame& f) { f.mutable_processcompleted()->set_code(2); }),
         R"({"type":"ProcessCompleted","code":2,"command":""})"},
        {"flags", MakeFrame([](calder::HostFrame& f) { f.mutable_flags()->set_flags(2); }),
         R"({"type":"TarnIPFlags","flags":2})"},
        {"ready", MakeFrame([](calder::HostFrame& f) { f.mutable_interfaceready(); }),
         R"({"type":"InterfaceReady"})"},
        {"no packet", calder::HostFrame(), R"({"type":"Unknown"})"},
    };

    const std::string journalPath = (env_.root() / "journal.jsonl").string();
    Options options = MakeOptions();
    options.journalPath = journalPath;
    StartSimulator(options);
    RawInstrument instrument;
    ASSERT_TRUE(instrument.Connect(sim_->Port()));
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ASSERT_TRUE(instrument.Write(cases[i].frame, i + 1));
        ASSERT_TRUE(sim_->WaitFor([&](const auto& j) { return j.size() == i + 1; }, 10s)) << cases[i].name;
    }

    const std::vector<QJsonObject> journal = sim_->Journal();
    const std::vector<std::string> lines = sim_->JournalLines();
    ASSERT_EQ(journal.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        QJsonObject entry = journal[i];
        EXPECT_EQ(entry.value("dir").toString(), "in");
        EXPECT_TRUE(entry.value("batch").isDouble());
        EXPECT_EQ(entry.value("link").toInt(), 1);
        entry.remove("dir");
        entry.remove("batch");
        entry.remove("link");
        EXPECT_EQ(Text(entry), Text(ParseObject(cases[i].expected)));
        // The line itself starts with the fixed keys, in order.
        EXPECT_THAT(lines[i], ::testing::StartsWith(R"({"dir":"in","batch":)"));
    }
    // Doubles read back exactly.
    const QJsonArray position = journal[1].value("data").toArray()[0].toObject().value("position").toArray();
    EXPECT_EQ(position[0].toDouble(), 123456789.123456789);
    EXPECT_EQ(position[2].toDouble(), 2.0 / 3.0);
    EXPECT_EQ(journal[1].value("probeRadius").toDouble(), 1e-300);

    // The journal file holds the same lines, each already flushed.
    std::ifstream file(journalPath);
    std::vector<std::string> fileLines;
    for (std::string line; std::getline(file, line);)
        fileLines.push_back(line);
    EXPECT_EQ(fileLines, lines);
}

TEST_F(HostSimTest, BatchNumbersFollowTheSendersWrites) {
    StartSimulator();
    RawInstrument instrument;
    LogOn(instrument); // Logon (unmarked) and LinkAlive: batches 1 and 2

    // Three frames of one gathered write carry one marker; then a single write with another.
    std::string gathered;
    for (int i = 0; i < 3; ++i) {
        calder::HostFrame frame = FullMeasurement();
        frame.set_writemarker(7);
        ASSERT_TRUE(calder::AppendFrame(frame, gathered));
    }
    ASSERT_TRUE(instrument.WriteRaw(gathered));
    ASSERT_TRUE(instrument.Write(DefaultMeasurement(), 8));
    // The same marker again after another one is a new write too.
    ASSERT_TRUE(instrument.Write(DefaultMeasurement(), 7));
    ASSERT_TRUE(sim_->WaitForReceived("TarnIPMeasurement", 5, 10s));
    // Unmarked frames, written apart: separate batches.
    ASSERT_TRUE(instrument.Write(DefaultMeasurement()));
    ASSERT_TRUE(sim_->WaitForReceived("TarnIPMeasurement", 6, 10s));
    ASSERT_TRUE(instrument.Write(DefaultMeasurement()));
    ASSERT_TRUE(sim_->WaitForReceived("TarnIPMeasurement", 7, 10s));
    ASSERT_TRUE(Execute("start"));
    ASSERT_TRUE(Execute("stop"));

    std::vector<int> batches;
    for (const QJsonObject& entry : sim_->Journal())
        batches.push_back(entry.value("batch").toInt());
    EXPECT_EQ(batches, (std::vector<int>{1, 2, 3, 3, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(HostSimTest, WritesOfTheBaseLibrarySocketBecomeBatches) {
    StartSimulator();
    QuickSock sock;
    ASSERT_TRUE(sock.Connect("127.0.0.1", sim_->Port()));
    const auto measurement = [](const wchar_t* target) {
        auto* packet = new TarnIPMeasurement;
        packet->collectionName = L"Coll";
        packet->groupName = L"Grp";
        packet->targetName = target;
        return packet;
    };
    const auto sendArray = [&](std::initializer_list<const wchar_t*> targets) {
        CObArray packets;
        for (const wchar_t* target : targets)
            packets.Add(measurement(target));
        EXPECT_TRUE(sock.SendPackets(packets));
        for (CObject* packet : packets)
            delete packet;
    };
    sendArray({L"P1", L"P2", L"P3"});
    std::unique_ptr<TarnIPMeasurement> single(measurement(L"P4"));
    ASSERT_TRUE(sock.SendPacket(*single));
    sendArray({L"P5", L"P6"});
    ASSERT_TRUE(sim_->WaitForReceived("TarnIPMeasurement", 6, 10s));

    std::vector<std::string> targets;
    std::vector<int> batches;
    for (const QJsonObject& entry : sim_->Received("TarnIPMeasurement")) {
        targets.push_back(entry.value("targetName").toString().toStdString());
        batches.push_back(entry.value("batch").toInt());
    }
    EXPECT_EQ(targets, (std::vector<std::string>{"P1", "P2", "P3", "P4", "P5", "P6"}));
    EXPECT_EQ(batches, (std::vector<int>{1, 1, 1, 2, 3, 3}));
    EXPECT_EQ(sim_->Counts().collections, (std::map<std::string, std::size_t>{{"Coll", 6}}));
}

TEST_F(HostSimTest, BadFrameClosesOnlyThatInstrument) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"4 GiB length prefix", std::string("\xff\xff\xff\xff", 4)},
        {"just above the limit", std::string("\x01\x00\x00\x01", 4) + std::string(64, 'x')},
        {"payload that does not decode", std::string("\x03\x00\x00\x00\xff\xff\xff", 7)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Options options = MakeOptions();
        options.maxFrameBytes = std::size_t(16) << 20;
        StartSimulator(options);
        RawInstrument good;
        LogOn(good, 1);
        RawInstrument bad;
        LogOn(bad, 2);

        ASSERT_TRUE(bad.WriteRaw(c.bytes));
        EXPECT_TRUE(bad.WaitForClose());
        EXPECT_TRUE(sim_->WaitFor([&](const auto&) { return sim_->ConnectedInstruments() == 1; }, 10s));

        ASSERT_TRUE(Execute("opcheck still here"));
        const auto frame = good.NextPacket();
        ASSERT_TRUE(frame && frame->has_opcheck());
        EXPECT_EQ(frame->opcheck().command(), "still here");
        const std::vector<std::string> events = sim_->Events();
        EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& e) {
            return e.find("connection closed") != std::string::npos;
        })) << ::testing::PrintToString(events);
        sim_.reset();
    }
}

TEST_F(HostSimTest, AnInstrumentThatStopsReadingIsDroppedInsteadOfStallingTheHost) {
    Options options = MakeOptions();
    options.writeTimeout = std::chrono::milliseconds(200);
    StartSimulator(options);
    RawInstrument stuck; // logs on, then never reads again
    LogOn(stuck);

    // Far more than the socket buffers hold.
    std::string error;
    EXPECT_FALSE(sim_->Execute("proximity 400000", &error));
    EXPECT_THAT(error, HasSubstr("could not be written"));
    EXPECT_EQ(sim_->ConnectedInstruments(), 0u);
    const std::vector<std::string> events = sim_->Events();
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const std::string& e) {
        return e.find("stopped reading") != std::string::npos;
    })) << ::testing::PrintToString(events);

    RawInstrument next;
    LogOn(next);
    ASSERT_TRUE(Execute("startmeasuring"));
    const auto frame = next.NextPacket();
    ASSERT_TRUE(frame && frame->has_startmeasuring());
}

TEST_F(HostSimTest, SummaryCountsPacketsCollectionsAndGroups) {
    StartSimulator();
    RawInstrument instrument;
    LogOn(instrument);
    const auto measurement = [](const char* collection, const char* group) {
        return MakeFrame([&](calder::HostFrame& f) {
            f.mutable_measurement()->set_collectionname(collection);
            f.mutable_measurement()->set_groupname(group);
        });
    };
    ASSERT_TRUE(instrument.Write(measurement("Coll A", "G1"), 1));
    ASSERT_TRUE(instrument.Write(measurement("Coll A", "G1"), 2));
    ASSERT_TRUE(instrument.Write(measurement("Coll B", "G2"), 3));
    ASSERT_TRUE(instrument.Write(
        MakeFrame([](calder::HostFrame& f) { f.mutable_geomframe()->set_collectionname("Coll A"); }), 4));
    ASSERT_TRUE(instrument.Write(MakeFrame([](calder::HostFrame& f) { f.mutable_heartbeat(); }), 5));
    ASSERT_TRUE(instrument.Write(MakeFrame([](calder::HostFrame& f) { f.mutable_flags(); }), 6));
    ASSERT_TRUE(sim_->WaitForReceived("TarnIPFlags", 1, 10s));
    ASSERT_TRUE(Execute("names A B C"));

    const tarnhostsim::Tally tally = sim_->Counts();
    using Counts = std::map<std::string, std::size_t>;
    EXPECT_EQ(tally.received,
              (Counts{{"Logon", 1}, {"TarnIPFlags", 1}, {"TarnIPGeomFrame", 1}, {"TarnIPMeasurement", 3}}));
    EXPECT_EQ(tally.sent, (Counts{{"LinkAlive", 1}, {"Names", 1}}));
    EXPECT_EQ(tally.collections, (Counts{{"Coll A", 3}, {"Coll B", 1}}));
    EXPECT_EQ(tally.groups, (Counts{{"G1", 2}, {"G2", 1}}));
    EXPECT_EQ(tally.heartbeatsReceived, 1u);
    EXPECT_TRUE(sim_->Received("Heartbeat").empty());

    const std::string summary = sim_->Summary();
    EXPECT_THAT(summary, HasSubstr("received 6 packets, sent 2 packets"));
    EXPECT_THAT(summary, HasSubstr("  TarnIPMeasurement 3\n"));
    EXPECT_THAT(summary, HasSubstr("  Names 1\n"));
    EXPECT_THAT(summary, HasSubstr("  \"Coll A\" 3\n"));
    EXPECT_THAT(summary, HasSubstr("  \"G2\" 1\n"));
}

TEST_F(HostSimTest, AnnouncesItselfWhileRunningAndWithdrawsOnStop) {
    Options options = MakeOptions();
    options.announce = true;
    options.label = "Tarn Test Host";
    options.types = {212, 7};
    StartSimulator(options);
    const std::filesystem::path file = sim_->DiscoveryFile();
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(file.parent_path(), env_.tarnRuntime());

    const std::vector<calder::discovery::Entry> entries = calder::discovery::List();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].label, "Tarn Test Host");
    EXPECT_EQ(entries[0].address, "127.0.0.1");
    EXPECT_EQ(entries[0].port, sim_->Port());
    EXPECT_EQ(entries[0].instrumentTypes, (std::vector<unsigned>{212, 7}));

    sim_->Stop();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(calder::discovery::List().empty());
    EXPECT_FALSE(sim_->Running());
}

TEST_F(HostSimTest, StartFailsClearlyWhenItCannotListenOrJournal) {
    StartSimulator();
    Options taken = MakeOptions();
    taken.port = sim_->Port();
    HostSimulator second(taken);
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_THAT(error, HasSubstr(std::to_string(sim_->Port())));

    Options badJournal = MakeOptions();
    badJournal.journalPath = (env_.root() / "missing" / "journal.jsonl").string();
    HostSimulator third(badJournal);
    EXPECT_FALSE(third.Start(&error));
    EXPECT_THAT(error, HasSubstr("journal"));
}

} // namespace
} // namespace hostsimtest
