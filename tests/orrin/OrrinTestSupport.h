#pragma once
// Helpers of the photogrammetry-link tests: quick client and simulator options, a recorder of
// the client library's signals, and hand-made epochs.

#include "OrrinService.h"
#include "orrinsim/Simulator.h"

#include <boost/signals2/connection.hpp>

#include <google/protobuf/util/message_differencer.h>
#include <grpcpp/support/status_code_enum.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orrintest {

using namespace std::chrono_literals;

// Upper bound of every wait in these tests: generous, so that a loaded machine never fails
// them; a wait that runs out means the awaited event never came.
constexpr std::chrono::milliseconds kWait = 15s;

inline lyra::OrrinServiceOptions QuickClient() {
    lyra::OrrinServiceOptions o;
    o.firstReconnectDelay = 20ms;
    o.maxReconnectDelay = 200ms;
    o.callDeadline = 10s;
    o.triggerDeadline = 10s;
    o.longDeadline = 10s;
    return o;
}

inline orrinsim::Options QuietSim(std::uint64_t seed = 1) {
    orrinsim::Options o;
    o.seed = seed;
    o.rateHz = 200.0;
    o.heartbeatPeriod = 100ms;
    o.log = [](const std::string&) {};
    return o;
}

// A started simulator; the test fails at once when it cannot listen.
inline std::unique_ptr<orrinsim::Simulator> StartSim(orrinsim::Options options) {
    auto sim = std::make_unique<orrinsim::Simulator>(std::move(options));
    std::string error;
    if (!sim->Start(&error))
        throw std::runtime_error("simulator did not start: " + error);
    return sim;
}

// Waits for a condition that nothing signals (a simulator's state, a counter), looking again
// every few milliseconds.
inline bool Poll(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = kWait) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

inline void Connect(lyra::OrrinService& service, const orrinsim::Simulator& sim) {
    service.start("127.0.0.1", static_cast<unsigned short>(sim.Port()));
}

struct EpochSeen {
    std::uint64_t id = 0;
    std::string label;
    std::thread::id thread;
};

// Records every signal of one service. The slots keep the record alive, so the recorder may go
// before the service.
class Recorder {
public:
    explicit Recorder(lyra::IOrrinService& service) : state_(std::make_shared<State>()) {
        auto state = state_;
        status_ = service.connectionStatusService()->connectionChanged.connect([state](bool up) {
            std::lock_guard lock(state->mutex);
            state->states.push_back(up);
            state->statusThreads.push_back(std::this_thread::get_id());
            state->changed.notify_all();
        });
        epochs_ =
            service.dataCaptureService()->epochCaptured.connect([state](const lyraproto::TriggerEpoch* e) {
                std::lock_guard lock(state->mutex);
                state->epochs.push_back({e->epoch_id(), e->label(), std::this_thread::get_id()});
                state->full.push_back(*e);
                if (state->stops > 0)
                    ++state->epochsAfterStop;
                state->changed.notify_all();
            });
        stopped_ = service.dataCaptureService()->continuousStopped.connect([state] {
            std::lock_guard lock(state->mutex);
            ++state->stops;
            state->changed.notify_all();
        });
    }

    // Waits for a predicate over what was recorded (it may call the accessors below).
    bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = kWait) const {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, timeout, predicate);
    }
    bool WaitForState(bool up) const {
        return WaitFor([&] { return !state_->states.empty() && state_->states.back() == up; });
    }
    bool WaitForStates(std::size_t count) const {
        return WaitFor([&] { return state_->states.size() >= count; });
    }
    bool WaitForEpochs(std::size_t count) const {
        return WaitFor([&] { return state_->epochs.size() >= count; });
    }
    bool WaitForStops(int count) const {
        return WaitFor([&] { return state_->stops >= count; });
    }

    std::vector<bool> States() const {
        std::lock_guard lock(state_->mutex);
        return state_->states;
    }
    std::vector<std::thread::id> StatusThreads() const {
        std::lock_guard lock(state_->mutex);
        return state_->statusThreads;
    }
    std::vector<EpochSeen> Epochs() const {
        std::lock_guard lock(state_->mutex);
        return state_->epochs;
    }
    std::vector<lyraproto::TriggerEpoch> FullEpochs() const {
        std::lock_guard lock(state_->mutex);
        return state_->full;
    }
    int Stops() const {
        std::lock_guard lock(state_->mutex);
        return state_->stops;
    }
    int EpochsAfterStop() const {
        std::lock_guard lock(state_->mutex);
        return state_->epochsAfterStop;
    }

private:
    struct State {
        mutable std::recursive_mutex mutex; // predicates of WaitFor read through the accessors
        mutable std::condition_variable_any changed;
        std::vector<bool> states;
        std::vector<std::thread::id> statusThreads;
        std::vector<EpochSeen> epochs;
        std::vector<lyraproto::TriggerEpoch> full;
        int stops = 0;
        int epochsAfterStop = 0;
    };
    std::shared_ptr<State> state_;
    boost::signals2::scoped_connection status_;
    boost::signals2::scoped_connection epochs_;
    boost::signals2::scoped_connection stopped_;
};

// A small epoch with `points` triangulation points, every field the bridge reads set.
inline lyraproto::TriggerEpoch MakeEpoch(std::uint64_t id, const std::string& label, int points = 3) {
    lyraproto::TriggerEpoch e;
    e.set_label(label);
    e.set_epoch_id(id);
    auto* camera = e.add_camera();
    camera->set_label("Cam" + std::to_string(id));
    auto* station = camera->add_station();
    for (int i = 0; i < 16; ++i)
        station->add_transform(i % 5 == 0 ? 1.0 : 0.0);
    auto* cloud = e.add_cloud();
    cloud->set_label("Tri" + std::to_string(id));
    cloud->set_cloud_type(lyraproto::Cloud::TRIANGULATION);
    for (int i = 0; i < points; ++i) {
        auto* p = cloud->add_point();
        p->set_label("T" + std::to_string(i + 1));
        p->set_x(i * 1.5);
        p->set_y(-i * 0.25);
        p->set_z(id * 0.001);
        for (int c = 0; c < 9; ++c)
            p->add_covariance(c % 4 == 0 ? 0.0001 * (i + 1) : 0.0);
    }
    auto* tracked = e.add_object_tracking();
    tracked->set_name("Fixture");
    tracked->set_type(lyraproto::ObjectTrackingInfo::CLOUD);
    tracked->mutable_transformation()->set_valid(true);
    for (int i = 0; i < 16; ++i)
        tracked->mutable_transformation()->add_matrix(i % 5 == 0 ? 1.0 : 0.0);
    return e;
}

inline bool SameMessage(const google::protobuf::Message& a, const google::protobuf::Message& b) {
    return google::protobuf::util::MessageDifferencer::Equals(a, b);
}

} // namespace orrintest
