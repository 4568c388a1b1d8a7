#pragma once
// The simulator's command language (standard input, scripts, HostSimulator::Execute): parses
// one line into either a host packet to send or an action of the simulator itself.

#include "host_link.pb.h"

#include <chrono>
#include <string>
#include <string_view>

namespace tarnhostsim {

struct Command {
    enum class Kind {
        nothing,   // blank line or comment
        send,      // send `frame` to the instruments
        heartbeat, // heartbeats on (`on`) or off
        close,     // close every instrument connection
        wait,      // pause for `duration`
        waitLogon, // wait up to `duration` for a logged-on instrument
        quit,
    };
    Kind kind = Kind::nothing;
    calder::HostFrame frame;
    bool on = false;
    std::chrono::milliseconds duration{0};
};

// The transform sent by a bare "transform": a quarter turn about z, then (10, 20, 30) inches.
extern const double kDefaultTransform[16];

// Parses one command line. False with a reason in `error` when the line is not a valid command.
bool ParseCommand(std::string_view line, Command& command, std::string& error);

} // namespace tarnhostsim
