#pragma once
// The sub-services of OrrinService: each operation is one unary call with a deadline on the
// current link. A failed call (no link yet, server gone, deadline, a reply that does not parse
// or is too large, an error reported by the server) returns false and leaves the caller's
// object untouched.

#include "Link.h"

#include <functional>

namespace lyra::detail {

class ConnectionStatusService final : public IOrrinConnectionStatusService {
public:
    explicit ConnectionStatusService(std::function<bool()> connected) : connected_(std::move(connected)) {}
    bool isConnected() const override { return connected_(); }

private:
    std::function<bool()> connected_;
};

class DataCaptureService final : public IOrrinDataCaptureService {
public:
    explicit DataCaptureService(LinkState& links) : links_(links) {}
    bool trigger(lyraproto::TriggerEpoch* epoch) override;
    bool startContinuous() override;
    bool stopContinuous() override;
    bool isContinuousRunning() const override;

private:
    LinkState& links_;
};

class ProjectService final : public IOrrinProjectService {
public:
    explicit ProjectService(LinkState& links) : links_(links) {}
    bool getProject(lyraproto::PhotogrammetryProject* project) override;
    std::string getName() override;
    bool getProject3DFiles(std::vector<std::string>& files) override;
    bool getCloud(const std::string& name, lyraproto::Cloud* cloud) override;
    bool runBundle() override;
    bool autoMeasure() override;

private:
    LinkState& links_;
};

class SettingsService final : public IOrrinSettingsService {
public:
    explicit SettingsService(LinkState& links) : links_(links) {}
    bool setUpdateGui(bool update) override;

private:
    LinkState& links_;
};

} // namespace lyra::detail
