// The photogrammetry controller against the real client and simulator: it relays connection
// changes and epochs to its callbacks on the emitting thread, drops them while no callback is
// installed, and can be destroyed in the middle of a stream.

#include "OrrinController.h"
#include "OrrinTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace orrintest;

struct Relayed {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<bool> states;
    std::vector<std::uint64_t> epochs;
    std::vector<std::thread::id> threads;

    bool WaitFor(const std::function<bool()>& predicate) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kWait, predicate);
    }
};

void Install(OrrinController& controller, Relayed& relayed) {
    controller.statusCallback = [&relayed](bool up) {
        std::lock_guard lock(relayed.mutex);
        relayed.states.push_back(up);
        relayed.threads.push_back(std::this_thread::get_id());
        relayed.changed.notify_all();
    };
    controller.epochCallback = [&relayed](const lyraproto::TriggerEpoch* epoch) {
        std::lock_guard lock(relayed.mutex);
        relayed.epochs.push_back(epoch->epoch_id());
        relayed.threads.push_back(std::this_thread::get_id());
        relayed.changed.notify_all();
    };
}

TEST(OrrinControllerTest, RelaysToItsCallbacksOnTheEmittingThread) {
    auto options = QuietSim();
    options.stopAfter = 4;
    auto sim = StartSim(options);
    lyra::OrrinService service(QuickClient());
    Recorder direct(service); // the signals as the service emits them
    OrrinController controller(&service);
    EXPECT_EQ(controller.service, &service);
    EXPECT_FALSE(controller.statusCallback);
    EXPECT_FALSE(controller.epochCallback);
    Relayed relayed;
    Install(controller, relayed);

    controller.service->start("127.0.0.1", static_cast<unsigned short>(sim->Port()));
    ASSERT_TRUE(relayed.WaitFor([&] { return relayed.states.size() == 1; }));
    ASSERT_TRUE(controller.service->dataCaptureService()->startContinuous());
    ASSERT_TRUE(direct.WaitForStops(1));
    ASSERT_TRUE(relayed.WaitFor([&] { return relayed.epochs.size() == 4; }));
    sim->Stop();
    ASSERT_TRUE(relayed.WaitFor([&] { return relayed.states.size() == 2; }));

    EXPECT_EQ(relayed.states, (std::vector<bool>{true, false}));
    EXPECT_EQ(relayed.epochs, (std::vector<std::uint64_t>{1, 2, 3, 4}));
    const auto emitting = direct.Epochs().front().thread;
    EXPECT_NE(emitting, std::this_thread::get_id());
    for (const auto& t : relayed.threads)
        EXPECT_EQ(t, emitting) << "every callback runs on the client library's thread";
    for (const auto& t : direct.StatusThreads())
        EXPECT_EQ(t, emitting);
    service.stop();
}

TEST(OrrinControllerTest, DropsEventsWhileNoCallbackIsInstalledAndTakesReplacements) {
    auto options = QuietSim();
    options.stopAfter = 3;
    auto sim = StartSim(options);
    lyra::OrrinService service(QuickClient());
    Recorder direct(service);
    OrrinController controller(&service);

    // Connected and three epochs, all before any callback exists: dropped without harm.
    Connect(service, *sim);
    ASSERT_TRUE(direct.WaitForState(true));
    ASSERT_TRUE(service.dataCaptureService()->startContinuous());
    ASSERT_TRUE(direct.WaitForStops(1));

    Relayed first;
    Install(controller, first);
    ASSERT_TRUE(service.dataCaptureService()->startContinuous());
    ASSERT_TRUE(direct.WaitForStops(2));
    ASSERT_TRUE(first.WaitFor([&] { return first.epochs.size() == 3; }));
    EXPECT_EQ(first.epochs, (std::vector<std::uint64_t>{4, 5, 6}));
    EXPECT_TRUE(first.states.empty()) << "the connection came before the callback";

    // Assigning replaces: the next events reach the new callables only.
    Relayed second;
    Install(controller, second);
    ASSERT_TRUE(service.dataCaptureService()->startContinuous());
    ASSERT_TRUE(direct.WaitForStops(3));
    ASSERT_TRUE(second.WaitFor([&] { return second.epochs.size() == 3; }));
    EXPECT_EQ(second.epochs, (std::vector<std::uint64_t>{7, 8, 9}));
    EXPECT_EQ(first.epochs.size(), 3u);

    // Emptied callbacks drop again.
    controller.epochCallback = nullptr;
    controller.statusCallback = {};
    service.stop();
    ASSERT_TRUE(direct.WaitForState(false));
    EXPECT_TRUE(second.states.empty());
}

TEST(OrrinControllerTest, DestructionDuringAStreamNeverCallsIntoTheDestroyedController) {
    struct Case {
        const char* what;
        bool slowCallback; // destruction waits for a callback in progress
    };
    for (const Case c : {Case{"quick callbacks", false}, Case{"slow callback in progress", true}}) {
        SCOPED_TRACE(c.what);
        auto options = QuietSim();
        options.rateHz = 0.0; // as fast as the client takes them
        options.epochTargets = 2;
        options.epochLumidots = 0;
        auto sim = StartSim(options);
        lyra::OrrinService service(QuickClient());
        Recorder direct(service);
        auto controller = std::make_unique<OrrinController>(&service);
        auto calls = std::make_shared<std::atomic<int>>(0);
        auto inside = std::make_shared<std::atomic<bool>>(false);
        auto alive = std::make_shared<std::atomic<bool>>(true);
        OrrinController* raw = controller.get();
        controller->epochCallback = [calls, inside, alive, raw,
                                     slow = c.slowCallback](const lyraproto::TriggerEpoch* e) {
            inside->store(true);
            EXPECT_TRUE(alive->load()) << "callback after the controller was destroyed";
            EXPECT_NE(raw->service, nullptr); // reads the controller: a freed one shows up under ASan
            EXPECT_NE(e, nullptr);
            if (slow)
                std::this_thread::sleep_for(20ms);
            ++*calls;
            inside->store(false);
        };
        Connect(service, *sim); // callbacks in place before the first event, as in the bridge
        ASSERT_TRUE(direct.WaitForState(true));
        ASSERT_TRUE(service.dataCaptureService()->startContinuous());
        ASSERT_TRUE(Poll([&] { return calls->load() >= 20; }));
        if (c.slowCallback) {
            ASSERT_TRUE(Poll([&] { return inside->load(); }));
        }
        controller.reset();
        alive->store(false);
        EXPECT_FALSE(inside->load()) << "the destructor returned while a callback still ran";
        const int atDestruction = calls->load();

        // The service goes on emitting; nothing reaches the destroyed controller.
        const auto seen = direct.Epochs().size();
        ASSERT_TRUE(direct.WaitForEpochs(seen + 50));
        EXPECT_EQ(calls->load(), atDestruction);
        ASSERT_TRUE(service.dataCaptureService()->stopContinuous());
        service.stop();
    }
}

TEST(OrrinControllerTest, ServiceMayGoBeforeTheController) {
    auto sim = StartSim(QuietSim());
    auto service = std::make_unique<lyra::OrrinService>(QuickClient());
    OrrinController controller(service.get());
    Relayed relayed;
    Install(controller, relayed);
    Connect(*service, *sim);
    ASSERT_TRUE(relayed.WaitFor([&] { return relayed.states.size() == 1; }));
    service.reset(); // its end is announced to nobody, and the controller stays safe to destroy
    EXPECT_EQ(relayed.states, (std::vector<bool>{true}));
    controller.service = nullptr;
}

} // namespace
