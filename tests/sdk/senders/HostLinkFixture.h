#pragma once
// A TarnInstrument logged on to an in-process host simulator over loopback, with the distance
// unit set to millimetres, and what the host received from it.

#include "TestEnvironment.h"

#include "TarnInstrument.h"
#include "tarnhostsim/HostSimulator.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace sendertest {

// Millimetres to inches, as the SDK's unit table has it.
constexpr double kInchPerMm = 0.03937007874015748;

class HostLinkFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    TarnInstrument& Instrument() { return *instrument_; }
    tarnhostsim::HostSimulator& Host() { return *host_; }
    const testsupport::ScopedTestEnvironment& Env() const { return env_; }

    // Every frame the host received from the instrument since the previous call, in order. It
    // marks the end with a plan request (which goes out in every link state) and waits for that
    // mark: the link keeps the order, so whatever was sent before has arrived by then.
    std::vector<QJsonObject> Drain();

    // Stops the host's heartbeat and waits until the instrument sees its link down; the socket
    // stays open.
    void TakeLinkDown();

private:
    testsupport::ScopedTestEnvironment env_;
    std::unique_ptr<tarnhostsim::HostSimulator> host_;
    std::unique_ptr<TarnInstrument> instrument_;
    std::size_t consumed_ = 0; // received frames already handed out (marks included)
    int marks_ = 0;
};

// ---- JSON helpers ----

QJsonValue ParseJson(const std::string& text);
QJsonArray ToArray(const std::vector<QJsonObject>& objects);

// Checks that `actual` holds everything `expected` holds: every key of an expected object (extra
// keys of the actual one are ignored), arrays element by element with the same length, numbers
// within a relative 1e-12, strings and booleans exactly. Failures name the path.
void ExpectJsonSubset(const QJsonValue& actual, const QJsonValue& expected, const std::string& path = "$");

// The number of distinct writes ("batch" values) among the frames.
std::size_t Writes(const std::vector<QJsonObject>& frames);

} // namespace sendertest
