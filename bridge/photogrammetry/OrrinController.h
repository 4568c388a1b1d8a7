#pragma once
// The bridge's single point of contact with the photogrammetry client library. It holds the
// service, subscribes once to its connection-state and epoch signals, and relays both events to
// two replaceable callbacks; requests are made by the commands directly on `service`.
//
// The callbacks run on the thread that emits (the client library's event thread). An event that
// arrives while its callback is empty is dropped. Once the destructor has returned, the service
// never calls into the controller again; the destructor waits for a callback that is running on
// another thread.

#include "OrrinService.h"

#include <boost/signals2/connection.hpp>

#include <functional>
#include <memory>

class OrrinController {
public:
    // Subscribes to `service` (non-owning). The service may be destroyed before or after the
    // controller.
    explicit OrrinController(lyra::OrrinService* service);
    ~OrrinController();
    OrrinController(const OrrinController&) = delete;
    OrrinController& operator=(const OrrinController&) = delete;

    std::function<void(bool)> statusCallback;
    std::function<void(const lyraproto::TriggerEpoch*)> epochCallback;
    lyra::OrrinService* service;

private:
    struct Guard;
    std::shared_ptr<Guard> guard_;
    boost::signals2::scoped_connection statusConnection_;
    boost::signals2::scoped_connection epochConnection_;
};
