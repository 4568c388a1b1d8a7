#pragma once
// The instrument object: an instrument program creates one with its Messenger, logs on to the
// host with it and sends its measurements, frames, clouds and geometry through it.
//
// Lengths passed to the senders are in the distance unit chosen with SetDistUnit (inches until
// then); the senders convert them to inches in the caller's objects. Nothing is sent while the
// host link is down (RunMPByName excepted). Logon, the docking operations and the signals belong
// on the program's user-interface thread; the senders may be called from any thread, one at a
// time.

#include "Messenger.h"
#include "TarnSdkExport.h"
#include "TarnTypes.h"

#include "calder/CmdLineSocket.h"
#include "calder/DockWrapper.h"
#include "framework/WinTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class QDialog;
class QWidget;
class TarnConnection;

class TARN_SDK_API TarnInstrument {
public:
    // Takes ownership of `messenger`, which the program created with new.
    explicit TarnInstrument(Messenger& messenger);
    TarnInstrument(const TarnInstrument&) = delete;
    TarnInstrument& operator=(const TarnInstrument&) = delete;
    TarnInstrument(TarnInstrument&&) = delete;
    TarnInstrument& operator=(TarnInstrument&&) = delete;
    // Deletes the Messenger, then the connection object.
    ~TarnInstrument();

    // ---- Lifecycle ----

    // The command-line socket; hand it to the command-line parsing before Logon so that a host
    // socket given there replaces the connection picker. The same address on every call.
    CmdLineSocket* GetAutoSock();
    // Runs the whole logon flow. `instrumentType` keeps its low 16 bits. True when the host link
    // came up within the wait.
    bool Logon(int instrumentType, std::string instrumentName);
    // Whether the host link is up; safe to call from any thread.
    bool IsConnectedToTarn();
    // Closes the host socket; true when a connection was closed. The link state follows the
    // host's heartbeat, not this call.
    bool DisconnectFromTarn();
    void SaveSettings();
    // 0 feet, 1 inches, 2 metres, 3 centimetres, 4 millimetres. Any other code returns false and
    // changes nothing.
    bool SetDistUnit(int unit);
    // Creates the docking button as a child of `parent` at `rect` (parent's client coordinates).
    void SetupDockingButton(QWidget* parent, CRect rect);
    // Call first from the window's command handler; zero means the command was not the docking
    // button's.
    int OnDockWrapperCommand(QDialog& dialog, WPARAM wParam, LPARAM lParam);
    void SignalInterfaceReady();
    void SignalInterfaceFailed();

    // ---- Transforms ----

    // Rotation about the fixed X, then Y, then Z axis by the three angles (degrees); translation
    // `origin`, converted to inches with the current distance unit.
    Tarnxform SetFromOriginAndFixedRxyzDegrees(const Tarnvector& origin, const Tarnvector& rxyzDegrees);

    // ---- Measurement senders ----

    void SendPointToTarn(Tarnvector& position, Tarnvector& uncertainty, double probeRadius,
                         double secondDistance, bool asUpdate, std::string targetName, std::string groupName,
                         std::string collectionName, std::vector<std::string> notes);
    // `distanceAngles` holds distance, horizontal angle and vertical angle.
    void SendEDMTheoPtToTarn(Tarnvector& distanceAngles, Tarnxform& probeTransform, bool useTransform,
                             double probeRadius, double secondDistance, bool reservedFlag,
                             std::string targetName, std::string groupName, std::string collectionName,
                             std::vector<std::string> notes);
    void SendCMMPtToTarn(Tarnvector& position, Tarnxform& probeTransform, double probeRadius,
                         double secondDistance, bool asUpdate, bool useAuxValues,
                         std::vector<double>& auxValues, std::string targetName, std::string groupName,
                         std::string collectionName, std::vector<std::string> notes);
    // `direction` is the probing direction (i, j, k).
    void SendIJKUncertPointToTarn(Tarnvector& position, Tarnvector& direction, Tarnvector& uncertainty,
                                  double probeRadius, double secondDistance, bool asUpdate,
                                  std::string targetName, std::string groupName, std::string collectionName,
                                  std::vector<std::string> notes);
    void SendIJKUncertPointArrayToTarn(std::vector<Tarnvector>& positions,
                                       std::vector<Tarnvector>& directions,
                                       std::vector<Tarnvector>& uncertainties, double probeRadius,
                                       double secondDistance, std::string targetName, std::string groupName,
                                       std::string collectionName);
    void SendIJKUncertPointWithNamesArrayToTarn(std::vector<Tarnvector>& positions,
                                                std::vector<Tarnvector>& directions,
                                                std::vector<Tarnvector>& uncertainties,
                                                std::vector<std::string> targetNames, double probeRadius,
                                                double secondDistance, std::string groupName,
                                                std::string collectionName);
    void Send6DPointToTarn(Tarnvector& position, Tarnxform& probeTransform, double timeStamp,
                           Tarnvector& uncertainty, double probeRadius, double secondDistance, bool asFrame,
                           std::string targetName, std::string groupName, std::string collectionName,
                           std::vector<std::string> notes);
    // Note the name order: collections, groups, targets.
    void SendBatchofPtsToTarn(std::vector<Tarnvector>& positions, std::vector<Tarnxform>& probeTransforms,
                              std::vector<Tarnvector>& uncertainties,
                              std::vector<std::string>& collectionNames, std::vector<std::string>& groupNames,
                              std::vector<std::string>& targetNames, double probeRadius,
                              double secondDistance, std::vector<std::string> notes);

    // ---- Frame and cloud senders ----

    void SendFrameDataToTarn(Tarnxform& frame, double timeStamp, bool flagA, bool flagB, bool flagD,
                             std::string objectName, std::string collectionName,
                             std::vector<std::string> notes, double probeRadius, double secondDistance);
    void SendMultipleFrameDataToTarn(std::vector<Tarnxform>& frames, std::vector<double>& timeStamps,
                                     std::string objectName, double probeRadius, double secondDistance);
    void SendMultipleInstFramesToTarn(std::vector<Tarnxform>& frames, std::vector<std::string>& frameNames,
                                      std::vector<std::int64_t>& frameIds);
    void SendPointSetTrackingToTarn(std::vector<Tarnvector>& points, std::vector<std::string>& pointNames);
    void SendScanStripeCloudToTarn(std::vector<TarnScanStripe>& stripes, std::string cloudName,
                                   std::string collectionName);
    void SendPointCloudToTarn(std::vector<Tarnvector>& points, std::string cloudName,
                              std::string collectionName);

    // ---- Geometry and command senders ----

    void SendLineToTarn(Tarnvector& point1, Tarnvector& point2, char code, std::string objectName,
                        std::string collectionName, std::vector<std::string> notes);
    void SendCircleToTarn(Tarnxform& frame, double radius, double reservedValue, std::string objectName,
                          std::string collectionName, std::vector<std::string> notes);
    void SendSphereToTarn(Tarnvector& center, double radius, std::string objectName,
                          std::string collectionName, std::vector<std::string> notes);
    void SendCylinderToTarn(Tarnvector& point1, Tarnvector& point2, double radius, std::string objectName,
                            std::string collectionName, std::vector<std::string> notes);
    void SendPlaneToTarn(Tarnxform& frame, std::vector<Tarnvector> points, std::string objectName,
                         std::string collectionName, std::vector<std::string> notes);
    void SendInstrumentHistoryUpdate(std::string heading, std::vector<std::string> lines, std::string note);
    void RunMPByName(std::string planName);
    void Remove6DTargetModel();

    // ---- Fields ----

    TarnConnection* connection = nullptr; // owned
    Messenger* messenger = nullptr;       // owned
    CDockingBtnCtrl dockingButton;        // its window exists after SetupDockingButton
};
