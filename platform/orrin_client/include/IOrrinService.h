#pragma once
// Interfaces of the photogrammetry client library: the service and its sub-services, their
// synchronous operations and their signals.
//
// Signals are Boost.Signals2 signals (thread-safe). Every slot runs on the thread that emits:
// for the library's own events that is the service's event thread. A connection handle that is
// dropped leaves its slot connected. Operations report success as `true`; they never throw.
// Texts are UTF-8.

#include "Project.pb.h"

#include <boost/signals2/signal.hpp>

#include <string>
#include <vector>

namespace lyra {

class IOrrinConnectionStatusService {
public:
    virtual ~IOrrinConnectionStatusService() = default;

    // True while the event stream to the photogrammetry system is established.
    virtual bool isConnected() const = 0;

    // Emitted once per change of the connection state, with the new state.
    boost::signals2::signal<void(bool)> connectionChanged;
};

class IOrrinDataCaptureService {
public:
    virtual ~IOrrinDataCaptureService() = default;

    // Captures one epoch into `epoch` (replacing its content); returns when the photogrammetry
    // system has delivered it or has failed. The epoch is not emitted by `epochCaptured`.
    virtual bool trigger(lyraproto::TriggerEpoch* epoch) = 0;
    // True when continuous capture runs afterwards.
    virtual bool startContinuous() = 0;
    // True when continuous capture is stopped afterwards.
    virtual bool stopContinuous() = 0;
    // False also when the system cannot be asked.
    virtual bool isContinuousRunning() const = 0;

    // One epoch of continuous capture; the pointer is valid during the call only.
    boost::signals2::signal<void(const lyraproto::TriggerEpoch*)> epochCaptured;
    // A continuous capture has ended (stopped by a client or the operator, or its limit reached).
    boost::signals2::signal<void()> continuousStopped;
};

class IOrrinProjectService {
public:
    virtual ~IOrrinProjectService() = default;

    // The open project (without image observations) into `project`, replacing its content.
    virtual bool getProject(lyraproto::PhotogrammetryProject* project) = 0;
    // The open project's name (its label); empty when it cannot be asked.
    virtual std::string getName() = 0;
    // The names of the project's 3D files (every cloud type), replacing the list's content.
    // The list is left empty on failure.
    virtual bool getProject3DFiles(std::vector<std::string>& files) = 0;
    // The cloud of the 3D file `name` into `cloud`, replacing its content.
    virtual bool getCloud(const std::string& name, lyraproto::Cloud* cloud) = 0;
    // Runs the bundle adjustment and accepts its result.
    virtual bool runBundle() = 0;
    // Runs the automatic measurement of the project's images.
    virtual bool autoMeasure() = 0;
};

class IOrrinSettingsService {
public:
    virtual ~IOrrinSettingsService() = default;

    // Whether the photogrammetry system's own window follows the captures.
    virtual bool setUpdateGui(bool update) = 0;
};

// The service owns its sub-services; the accessors never return null.
class IOrrinService {
public:
    virtual ~IOrrinService() = default;

    // Connects to the photogrammetry system at host:port and keeps the connection up. Called
    // again, it leaves the previous address and connects to the new one.
    virtual void start(const char* host, unsigned short port) = 0;
    // Ends the connection; no signal is emitted afterwards until the next `start`.
    virtual void stop() = 0;

    virtual IOrrinConnectionStatusService* connectionStatusService() const = 0;
    virtual const IOrrinDataCaptureService* dataCaptureService() const = 0;
    virtual IOrrinDataCaptureService* dataCaptureService() = 0;
    virtual IOrrinProjectService* projectService() const = 0;
    virtual IOrrinSettingsService* orrinSettingsService() const = 0;
};

} // namespace lyra
