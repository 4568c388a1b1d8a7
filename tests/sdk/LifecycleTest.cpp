// The instrument object: ownership, units, command-line socket, docking, signals, disconnect.

#include "ModalAnswer.h"
#include "SdkTestSupport.h"

#include "framework/WinTypes.h"

#include <QDialog>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace sdktest {
namespace {

TEST(InstrumentOwnership, DeletesMessengerFirstThenConnection) {
    testsupport::EnsureApplication();
    auto log = std::make_shared<MessengerLog>();
    const TarnInstrument* address = nullptr;
    {
        TarnInstrument instrument(*new RecordingMessenger(log, true, &address));
        address = &instrument;
        EXPECT_FALSE(instrument.IsConnectedToTarn());
        EXPECT_NE(instrument.connection, nullptr);
    }
    EXPECT_TRUE(log->destroyed);
    EXPECT_TRUE(log->connectionAliveAtDestruction);
}

// The unit shows in the translation of a transform built from the origin (1, 0, 0).
double InchesOfOneUnit(TarnInstrument& instrument) {
    return instrument.SetFromOriginAndFixedRxyzDegrees({1, 0, 0}, {0, 0, 0}).m[0][3];
}

TEST(InstrumentUnits, CodesZeroToFourOnly) {
    testsupport::EnsureApplication();
    TarnInstrument instrument(*new Messenger);
    EXPECT_DOUBLE_EQ(InchesOfOneUnit(instrument), 1.0); // a new instrument uses inches

    struct Case {
        int code;
        bool accepted;
        double inchesAfter; // of one unit, after the call
    };
    const Case cases[] = {
        {0, true, 12.0},
        {-1, false, 12.0},
        {5, false, 12.0},
        {2, true, 39.37007874015748},
        {3, true, 0.3937007874015748},
        {1 << 31, false, 0.3937007874015748},
        {4, true, 0.03937007874015748},
        {65536 + 1, false, 0.03937007874015748},
        {1, true, 1.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(instrument.SetDistUnit(c.code), c.accepted) << "code " << c.code;
        EXPECT_DOUBLE_EQ(InchesOfOneUnit(instrument), c.inchesAfter) << "code " << c.code;
    }
}

using InstrumentLifecycle = HostTest;

TEST_F(InstrumentLifecycle, CommandLineSocketIsOneObjectAcrossLogon) {
    CmdLineSocket* before = Instrument().GetAutoSock();
    EXPECT_EQ(Instrument().GetAutoSock(), before);
    ASSERT_TRUE(LogOn());
    EXPECT_EQ(Instrument().GetAutoSock(), before);
    EXPECT_TRUE(before->socketGiven);
    EXPECT_EQ(before->port, Host().Port());
}

TEST_F(InstrumentLifecycle, LogonTypeKeepsLowSixteenBits) {
    ASSERT_TRUE(LogOn(65536 + 212, "Orrin"));
    const auto logons = Received(Host(), "Logon");
    ASSERT_EQ(logons.size(), 1u);
    EXPECT_EQ(logons[0].value("instrumentType").toInt(), 212);
    EXPECT_EQ(logons[0].value("instrumentName").toString().toStdString(), "Orrin");
    EXPECT_TRUE(Instrument().IsConnectedToTarn());
}

TEST_F(InstrumentLifecycle, ReadyAndFailedSignalsReachTheHost) {
    ASSERT_TRUE(LogOn());
    Instrument().SignalInterfaceReady();
    Instrument().SignalInterfaceFailed();
    EXPECT_TRUE(DispatchUntilReceived(Host(), "InterfaceReady", 1));
    EXPECT_TRUE(DispatchUntilReceived(Host(), "InterfaceFailed", 1));
}

TEST_F(InstrumentLifecycle, DisconnectLeavesLinkStateToTheHeartbeat) {
    EXPECT_FALSE(Instrument().DisconnectFromTarn()); // nothing to close yet
    ASSERT_TRUE(LogOn());
    EXPECT_TRUE(Instrument().DisconnectFromTarn());
    EXPECT_TRUE(Instrument().IsConnectedToTarn()); // unchanged by the call itself
    // The closed socket then ends the heartbeat.
    EXPECT_TRUE(DispatchUntil([&] { return !Instrument().IsConnectedToTarn(); }));
}

TEST_F(InstrumentLifecycle, DockingButtonIsCreatedAndItsCommandHandled) {
    QDialog window;
    Instrument().SetupDockingButton(&window, CRect{10, 20, 110, 45});
    QPushButton* button = Instrument().dockingButton.button();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->parentWidget(), &window);
    EXPECT_EQ(button->geometry(), QRect(10, 20, 100, 25));
    EXPECT_TRUE(button->text().isEmpty());
    EXPECT_EQ(Instrument().dockingButton.id(), 15000u);

    // The dock wrapper's answer passes through unchanged: its own button's command is handled,
    // every other command is left to the window.
    EXPECT_NE(Instrument().OnDockWrapperCommand(window, 15000, 0), 0);
    EXPECT_EQ(Instrument().OnDockWrapperCommand(window, 1, 0), 0);
}

TEST_F(InstrumentLifecycle, DockingWithoutParentIsSilent) {
    Instrument().SetupDockingButton(nullptr, CRect{0, 0, 10, 10});
    EXPECT_EQ(Instrument().dockingButton.button(), nullptr);
    EXPECT_TRUE(testsupport::SeenMessageBoxes().empty());
}

} // namespace
} // namespace sdktest
