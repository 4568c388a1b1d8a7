#include "HostLinkFixture.h"

#include "TestApplication.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>

using namespace std::chrono_literals;

namespace sendertest {

void HostLinkFixture::SetUp() {
    testsupport::EnsureApplication();
    tarnhostsim::Options options;
    options.announce = false;
    options.log = [](const std::string&) {};
    host_ = std::make_unique<tarnhostsim::HostSimulator>(options);
    std::string error;
    ASSERT_TRUE(host_->Start(&error)) << error;

    instrument_ = std::make_unique<TarnInstrument>(*new Messenger());
    const std::string socket = "127.0.0.1:" + std::to_string(host_->Port());
    const char* argv[] = {"sdk_sender_tests", "--tarn", socket.c_str()};
    ASSERT_TRUE(instrument_->GetAutoSock()->ParseCommandLine(3, argv));
    ASSERT_TRUE(instrument_->Logon(212, "Orrin"));
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return instrument_->IsConnectedToTarn(); }, 10000));
    ASSERT_TRUE(instrument_->SetDistUnit(4));
    Drain(); // the logon's own frames
}

void HostLinkFixture::TearDown() {
    instrument_.reset();
    if (host_)
        host_->Stop();
    host_.reset();
}

std::vector<QJsonObject> HostLinkFixture::Drain() {
    const QString mark = QString("end of step %1").arg(++marks_);
    instrument_->RunMPByName(mark.toStdString());
    const auto isMark = [&](const QJsonObject& o) {
        return o["dir"].toString() == "in" && o["type"].toString() == "TarnPPRunMP" &&
               o["planName"].toString() == mark;
    };
    const bool arrived = host_->WaitFor(
        [&](const std::vector<QJsonObject>& journal) {
            return std::any_of(journal.rbegin(), journal.rend(), isMark);
        },
        10s);
    EXPECT_TRUE(arrived) << "the host never received " << mark.toStdString();

    std::vector<QJsonObject> frames;
    const std::vector<QJsonObject> received = host_->Received();
    for (std::size_t i = consumed_; i < received.size(); ++i) {
        if (isMark(received[i])) {
            consumed_ = i + 1;
            break;
        }
        frames.push_back(received[i]);
    }
    return frames;
}

void HostLinkFixture::TakeLinkDown() {
    std::string error;
    ASSERT_TRUE(host_->Execute("heartbeat off", &error)) << error;
    ASSERT_TRUE(testsupport::ProcessEventsUntil([&] { return !instrument_->IsConnectedToTarn(); }, 10000));
}

QJsonValue ParseJson(const std::string& text) {
    // Wrapped in an array so that any value parses.
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString("[" + text + "]"), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " in " << text;
    return doc.array().isEmpty() ? QJsonValue() : doc.array().at(0);
}

QJsonArray ToArray(const std::vector<QJsonObject>& objects) {
    QJsonArray out;
    for (const QJsonObject& o : objects)
        out.append(o);
    return out;
}

namespace {

std::string Dump(const QJsonValue& value) {
    const QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2).toStdString();
}

} // namespace

void ExpectJsonSubset(const QJsonValue& actual, const QJsonValue& expected, const std::string& path) {
    if (expected.isDouble()) {
        ASSERT_TRUE(actual.isDouble()) << path << ": expected a number, got " << Dump(actual);
        const double want = expected.toDouble();
        const double got = actual.toDouble();
        EXPECT_LE(std::fabs(got - want), 1e-12 * std::fmax(1.0, std::fabs(want)))
            << path << ": " << got << " != " << want;
        return;
    }
    if (expected.isObject()) {
        ASSERT_TRUE(actual.isObject()) << path << ": expected an object";
        const QJsonObject want = expected.toObject();
        const QJsonObject got = actual.toObject();
        for (auto it = want.begin(); it != want.end(); ++it) {
            const std::string sub = path + "." + it.key().toStdString();
            ASSERT_TRUE(got.contains(it.key())) << sub << " is missing";
            ExpectJsonSubset(got.value(it.key()), it.value(), sub);
        }
        return;
    }
    if (expected.isArray()) {
        ASSERT_TRUE(actual.isArray()) << path << ": expected an array";
        const QJsonArray want = expected.toArray();
        const QJsonArray got = actual.toArray();
        ASSERT_EQ(got.size(), want.size()) << path << ": array length";
        for (qsizetype i = 0; i < want.size(); ++i)
            ExpectJsonSubset(got.at(i), want.at(i), path + "[" + std::to_string(i) + "]");
        return;
    }
    EXPECT_EQ(Dump(actual), Dump(expected)) << path;
}

std::size_t Writes(const std::vector<QJsonObject>& frames) {
    std::set<qint64> batches;
    for (const QJsonObject& frame : frames)
        batches.insert(frame["batch"].toInteger());
    return batches.size();
}

} // namespace sendertest
