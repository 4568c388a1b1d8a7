#include "OrrinController.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

// Shared by the controller and its slots. The slots hold it, so it outlives the controller; a
// slot enters only while the controller is alive and the destructor waits for the slots inside.
struct OrrinController::Guard {
    std::mutex mutex;
    std::condition_variable idle;
    OrrinController* owner = nullptr;
    int inside = 0; // slots running a callback

    // Runs `relay(owner)` unless the controller is gone.
    template <typename Relay>
    void enter(Relay&& relay) {
        OrrinController* target = nullptr;
        {
            std::lock_guard lock(mutex);
            if (owner == nullptr)
                return;
            target = owner;
            ++inside;
        }
        entered.push_back(this);
        struct Leave {
            Guard& guard;
            ~Leave() {
                entered.pop_back();
                std::lock_guard lock(guard.mutex);
                if (--guard.inside == 0)
                    guard.idle.notify_all();
            }
        } leave{*this};
        relay(*target);
    }

    // Closes the door and waits for the slots inside, except those that run on this very thread
    // (a callback that destroys the controller), which would otherwise wait for themselves.
    void close() {
        const auto self = std::count(entered.begin(), entered.end(), this);
        std::unique_lock lock(mutex);
        owner = nullptr;
        idle.wait(lock, [&] { return inside <= self; });
    }

    // The guards whose slots run on this thread, innermost last.
    static thread_local std::vector<Guard*> entered;
};

thread_local std::vector<OrrinController::Guard*> OrrinController::Guard::entered;

OrrinController::OrrinController(lyra::OrrinService* orrinService)
    : service(orrinService), guard_(std::make_shared<Guard>()) {
    guard_->owner = this;
    if (service == nullptr)
        return;
    statusConnection_ =
        service->connectionStatusService()->connectionChanged.connect([guard = guard_](bool connected) {
            guard->enter([&](OrrinController& controller) {
                if (controller.statusCallback)
                    controller.statusCallback(connected);
            });
        });
    epochConnection_ = service->dataCaptureService()->epochCaptured.connect(
        [guard = guard_](const lyraproto::TriggerEpoch* epoch) {
            guard->enter([&](OrrinController& controller) {
                if (controller.epochCallback)
                    controller.epochCallback(epoch);
            });
        });
}

OrrinController::~OrrinController() {
    guard_->close();
    // The scoped connections disconnect as the members go; a slot invoked after that finds the
    // door closed.
}
