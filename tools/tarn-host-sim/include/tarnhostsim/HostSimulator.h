#pragma once
// The host simulator: a TCP server that plays the host side of the host link. It accepts
// instruments, answers their logon with link-alive and heartbeats, sends host commands on
// request and journals every frame (except heartbeats) as one JSON line.
//
// Tests start it in-process on an ephemeral loopback port; the program tarn-host-sim is a thin
// front end over the same class. Every member function is thread-safe.

#include <QJsonObject>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tarnhostsim {

struct Options {
    std::string host = "127.0.0.1"; // address to listen on
    unsigned port = 0;              // 0: an ephemeral port (read it back with Port())
    std::string journalPath;        // empty: the journal is kept in memory only
    // false: frames are only counted (Counts), not journaled, so the journal and the waits on it
    // see nothing. For throughput measurements, where writing the journal would dominate.
    bool journal = true;
    std::string label = "Tarn";     // shown in the instruments' host picker
    std::vector<unsigned> types;    // instrument types announced for discovery; empty: all
    std::chrono::milliseconds heartbeatPeriod{250};
    bool announce = true;                         // register for discovery while running
    std::size_t maxFrameBytes = 256u << 20;       // larger frames close the connection
    std::chrono::milliseconds writeTimeout{5000}; // an instrument that stops reading is dropped
    // Receives each event line (connections, protocol errors); empty: written to stderr.
    std::function<void(const std::string&)> log;
};

// Counts of everything that crossed the link (heartbeats counted apart, never journaled).
struct Tally {
    std::map<std::string, std::size_t> received;    // packet type -> frames received
    std::map<std::string, std::size_t> sent;        // packet type -> frames sent (per instrument)
    std::map<std::string, std::size_t> collections; // collectionName -> received packets naming it
    std::map<std::string, std::size_t> groups;      // groupName -> received packets naming it
    std::size_t heartbeatsSent = 0;
    std::size_t heartbeatsReceived = 0;
};

class HostSimulator {
public:
    explicit HostSimulator(Options options);
    ~HostSimulator(); // stops and withdraws the discovery entry
    HostSimulator(const HostSimulator&) = delete;
    HostSimulator& operator=(const HostSimulator&) = delete;

    // Opens the journal, listens and announces. False with a reason when any step fails.
    bool Start(std::string* error = nullptr);
    // Closes every connection, stops listening, withdraws the discovery entry. Idempotent.
    void Stop();
    bool Running() const;
    unsigned Port() const;
    std::string Address() const; // "host:port"
    // The discovery file written at Start (empty when not announced).
    std::filesystem::path DiscoveryFile() const;

    // Runs one command line (the commands of standard input and of scripts):
    //   names C G T | start | stop | startstop MODE | startmeasuring |
    //   batch SUFFIX1 SUFFIX2 t1,t2,t3,x,y,z[;...] | opcheck TEXT | proximity N | transform |
    //   heartbeat off|on | close | wait MS | waitlogon [MS] | quit
    // Words may be double-quoted ("two words", "" for an empty text); a lone - is an empty
    // text. Blank lines and lines starting with # do nothing. Packet commands go to every
    // connected instrument. False with a reason (and nothing sent) for an unknown or
    // malformed command, or when no instrument is connected.
    bool Execute(const std::string& commandLine, std::string* error = nullptr);
    // True once the command "quit" has run.
    bool QuitRequested() const;
    bool WaitForQuit(std::chrono::milliseconds timeout) const;

    // The journal so far, in order: the JSON lines as written, and the same lines parsed.
    std::vector<std::string> JournalLines() const;
    std::vector<QJsonObject> Journal() const;
    // Journal entries of one direction ("in" or "out"), optionally of one packet type only.
    std::vector<QJsonObject> Received(const std::string& type = {}) const;
    std::vector<QJsonObject> Sent(const std::string& type = {}) const;
    // Waits until the predicate holds for the journal (checked after every new line).
    bool WaitFor(const std::function<bool(const std::vector<QJsonObject>&)>& predicate,
                 std::chrono::milliseconds timeout) const;
    // Waits until at least `count` frames of `type` have been received.
    bool WaitForReceived(const std::string& type, std::size_t count, std::chrono::milliseconds timeout) const;

    std::size_t ConnectedInstruments() const;
    std::size_t LoggedOnInstruments() const; // connected and sent a Logon
    bool WaitForLoggedOn(std::size_t count, std::chrono::milliseconds timeout) const;

    // Every event logged so far (connections, disconnections, protocol errors), in order.
    std::vector<std::string> Events() const;

    Tally Counts() const;
    // Human-readable counts per packet type and per collection and group.
    std::string Summary() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tarnhostsim
