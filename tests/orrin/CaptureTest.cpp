// Trigger and continuous capture through the client against the real simulator: epochs arrive
// whole, in order and each once; a triggered epoch is never streamed; every way a continuous run
// ends reaches continuousStopped.

#include "OrrinTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace orrintest;

class OrrinCapture : public ::testing::Test {
public:
    void Open(orrinsim::Options options) {
        sim_ = StartSim(std::move(options));
        service_ = std::make_unique<lyra::OrrinService>(QuickClient());
        events_ = std::make_unique<Recorder>(*service_);
        Connect(*service_, *sim_);
        ASSERT_TRUE(events_->WaitForState(true));
    }
    void TearDown() override {
        if (service_)
            service_->stop();
    }
    lyra::IOrrinDataCaptureService& capture() { return *service_->dataCaptureService(); }

    std::unique_ptr<orrinsim::Simulator> sim_;
    std::unique_ptr<lyra::OrrinService> service_;
    std::unique_ptr<Recorder> events_;
};

TEST_F(OrrinCapture, TriggerReturnsTheGivenEpochsInOrderAndNeverStreamsThem) {
    auto options = QuietSim();
    for (std::uint64_t id = 101; id <= 104; ++id)
        options.epochs.push_back(MakeEpoch(id, id % 2 ? "TriangulationEpoch" : "Other"));
    options.stopAfter = 2;
    const auto given = options.epochs;
    Open(options);

    lyraproto::TriggerEpoch epoch;
    epoch.set_label("left over from before");
    ASSERT_TRUE(capture().trigger(&epoch));
    EXPECT_TRUE(SameMessage(epoch, given[0])) << epoch.DebugString();

    // The stream carries the following epochs only: 102 and 103, then the end of the run.
    ASSERT_TRUE(capture().startContinuous());
    ASSERT_TRUE(events_->WaitForStops(1));
    const auto streamed = events_->FullEpochs();
    ASSERT_EQ(streamed.size(), 2u);
    EXPECT_TRUE(SameMessage(streamed[0], given[1]));
    EXPECT_TRUE(SameMessage(streamed[1], given[2]));

    // The given sequence starts over when used up.
    ASSERT_TRUE(capture().trigger(&epoch));
    EXPECT_EQ(epoch.epoch_id(), 104u);
    ASSERT_TRUE(capture().trigger(&epoch));
    EXPECT_EQ(epoch.epoch_id(), 101u);
    EXPECT_EQ(events_->Epochs().size(), 2u);
}

TEST_F(OrrinCapture, ContinuousDeliversEveryEpochInOrderUntilStopped) {
    Open(QuietSim());
    EXPECT_FALSE(capture().isContinuousRunning());
    ASSERT_TRUE(capture().startContinuous());
    EXPECT_TRUE(capture().isContinuousRunning());
    EXPECT_TRUE(capture().startContinuous()) << "starting a running capture keeps it running";
    ASSERT_TRUE(events_->WaitForEpochs(25));
    ASSERT_TRUE(capture().stopContinuous());
    ASSERT_TRUE(events_->WaitForStops(1));
    EXPECT_FALSE(capture().isContinuousRunning());

    const auto epochs = events_->Epochs();
    EXPECT_EQ(epochs.size(), sim_->EpochsStreamed()) << "every epoch the server sent arrived";
    for (std::size_t i = 0; i < epochs.size(); ++i) {
        EXPECT_EQ(epochs[i].id, i + 1) << "in order, none twice, none missing";
        EXPECT_EQ(epochs[i].label, (i + 1) % 5 == 0 ? "TrackingEpoch" : "TriangulationEpoch");
    }
    EXPECT_EQ(events_->EpochsAfterStop(), 0);
    EXPECT_TRUE(capture().stopContinuous()) << "stopping a stopped capture reports it stopped";
}

TEST_F(OrrinCapture, EveryEndOfAContinuousRunIsSignalled) {
    struct Case {
        const char* how;
        std::uint64_t stopAfter;
        std::function<void(OrrinCapture&)> end; // empty: the run ends by its limit
    };
    const std::vector<Case> cases = {
        {"epoch limit", 5, {}},
        {"client stops", 0, [](OrrinCapture& t) { ASSERT_TRUE(t.capture().stopContinuous()); }},
        {"operator stops", 0, [](OrrinCapture& t) { ASSERT_TRUE(t.sim_->StopContinuous()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        auto options = QuietSim();
        options.stopAfter = c.stopAfter;
        Open(options);
        for (int run = 1; run <= 2; ++run) { // a second run after the first ended
            SCOPED_TRACE(run);
            events_ = std::make_unique<Recorder>(*service_); // this run's events alone
            ASSERT_TRUE(capture().startContinuous());
            ASSERT_TRUE(events_->WaitForEpochs(3));
            if (c.end)
                c.end(*this);
            ASSERT_TRUE(events_->WaitForStops(1));
            EXPECT_FALSE(capture().isContinuousRunning());
            EXPECT_EQ(events_->EpochsAfterStop(), 0);
            if (c.stopAfter != 0) {
                EXPECT_EQ(events_->Epochs().size(), c.stopAfter);
            }
        }
        service_->stop();
    }
}

TEST_F(OrrinCapture, EpochsStreamedWhileNoClientListensAreNotReplayed) {
    auto options = QuietSim();
    options.stopAfter = 4;
    Open(options);
    service_->stop();
    ASSERT_TRUE(sim_->StartContinuous()); // the operator runs a capture meanwhile
    ASSERT_TRUE(Poll([&] { return !sim_->ContinuousRunning(); }));
    Connect(*service_, *sim_);
    ASSERT_TRUE(events_->WaitForStates(3));
    ASSERT_TRUE(capture().startContinuous());
    ASSERT_TRUE(events_->WaitForStops(1));
    const auto epochs = events_->Epochs();
    ASSERT_EQ(epochs.size(), 4u);
    EXPECT_EQ(epochs.front().id, 5u) << "the run the client missed is not delivered late";
}

} // namespace
