#include "TarnInstrument.h"

#include "TarnConnection.h"

#include "calder/DockWrapper.h"

#include <QDialog>
#include <QWidget>

#include <cmath>
#include <utility>

namespace {

constexpr DWORD kVisibleChild = 0x10000000;
constexpr UINT kDockingButtonId = 15000;

} // namespace

TarnInstrument::TarnInstrument(Messenger& m) : connection(new TarnConnection(this)), messenger(&m) {}

// The Messenger goes first: nothing of the connection's teardown may call into it.
TarnInstrument::~TarnInstrument() {
    delete messenger;
    messenger = nullptr;
    delete connection;
    connection = nullptr;
}

CmdLineSocket* TarnInstrument::GetAutoSock() {
    return &connection->cmdLineSocket;
}

bool TarnInstrument::Logon(int instrumentType, std::string instrumentName) {
    connection->instrumentType = static_cast<std::uint32_t>(instrumentType) & 0xFFFFu;
    connection->instrumentName = std::move(instrumentName);
    return connection->LogonToTarn() != 0;
}

bool TarnInstrument::IsConnectedToTarn() {
    return connection->connected.load();
}

bool TarnInstrument::DisconnectFromTarn() {
    return connection->TarnInstBase::DisconnectFromTarn() != 0;
}

void TarnInstrument::SaveSettings() {
    connection->SaveSettings();
}

bool TarnInstrument::SetDistUnit(int unit) {
    // Negative codes wrap to large unsigned values and are refused with the rest.
    if (static_cast<unsigned>(unit) > 4u)
        return false;
    connection->distanceUnit.store(unit);
    return true;
}

void TarnInstrument::SetupDockingButton(QWidget* parent, CRect rect) {
    // A failed creation leaves the program without a docking button; nothing to report.
    dockingButton.Create(CString(), kVisibleChild, rect, parent, kDockingButtonId);
    DockWrapper* wrapper = connection->GetDockWrapper();
    if (wrapper == nullptr)
        return;
    wrapper->SetDockingBtnCtrl(dockingButton);
    wrapper->CheckDockability(*connection);
}

int TarnInstrument::OnDockWrapperCommand(QDialog& dialog, WPARAM wParam, LPARAM lParam) {
    DockWrapper* wrapper = connection->GetDockWrapper();
    return wrapper != nullptr ? wrapper->OnCommand(dialog, wParam, lParam) : 0;
}

void TarnInstrument::SignalInterfaceReady() {
    connection->SignalInterfaceReady();
}

void TarnInstrument::SignalInterfaceFailed() {
    connection->SignalInterfaceFailed();
}

Tarnxform TarnInstrument::SetFromOriginAndFixedRxyzDegrees(const Tarnvector& origin,
                                                           const Tarnvector& rxyzDegrees) {
    const double f = connection->UnitFactor();
    const double d = std::acos(-1.0) / 180.0;
    const double a = d * rxyzDegrees.x;
    const double b = d * rxyzDegrees.y;
    const double g = d * rxyzDegrees.z;
    const double ca = std::cos(a), sa = std::sin(a);
    const double cb = std::cos(b), sb = std::sin(b);
    const double cg = std::cos(g), sg = std::sin(g);

    // R = Rz(g) * Ry(b) * Rx(a): about the fixed X axis first, then Y, then Z.
    Tarnxform t;
    t.m[0][0] = cb * cg;
    t.m[0][1] = sb * cg * sa - ca * sg;
    t.m[0][2] = sb * cg * ca + sa * sg;
    t.m[0][3] = f * origin.x;
    t.m[1][0] = cb * sg;
    t.m[1][1] = sb * sg * sa + ca * cg;
    t.m[1][2] = sb * sg * ca - sa * cg;
    t.m[1][3] = f * origin.y;
    t.m[2][0] = -sb;
    t.m[2][1] = sa * cb;
    t.m[2][2] = ca * cb;
    t.m[2][3] = f * origin.z;
    t.m[3][0] = 0.0;
    t.m[3][1] = 0.0;
    t.m[3][2] = 0.0;
    t.m[3][3] = 1.0;
    return t;
}
