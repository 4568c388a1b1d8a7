#pragma once
// The host link's packet classes. Each is built, filled and handed to QuickSock for one send,
// then destroyed. Field order is the order of the host's record. Lengths are inches.
//
// Ownership: a TarnIPMeasurement owns the records in `data` (ClearMeasData and the destructor
// delete them); a TarnIPUpdate owns its record; a TarnIPNetworkElementList owns its elements.

#include "calder/Export.h"
#include "calder/Geometry.h"
#include "calder/ObjectModel.h"

#include <cstdint>
#include <vector>

// ---- Measurement-data records ----

class CALDER_API TarnIPMeasData : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasData)
    ProbingDirection probingDirection;
};

class CALDER_API TarnIPMeasDataXYZ : public TarnIPMeasData {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasDataXYZ)
    Vector position;
};

class CALDER_API TarnIPMeasDataUncertXYZ : public TarnIPMeasDataXYZ {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasDataUncertXYZ)
    Vector uncertainty; // one-sigma values
};

class CALDER_API TarnIPMeasDataCMM : public TarnIPMeasDataXYZ {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasDataCMM)
    GenVec auxValues;
};

class CALDER_API TarnIPMeasDataTheo : public TarnIPMeasData {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasDataTheo)
    double horizontalAngle = 0.0; // degrees
    double verticalAngle = 0.0;   // degrees
};

class CALDER_API TarnIPMeasDataEDMTheo : public TarnIPMeasDataTheo {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasDataEDMTheo)
    double distance = 0.0;
};

// ---- Measurement packets ----

class CALDER_API TarnIPMeasurement : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPMeasurement)
    TarnIPMeasurement() = default;
    TarnIPMeasurement(const TarnIPMeasurement&) = delete;
    TarnIPMeasurement& operator=(const TarnIPMeasurement&) = delete;
    ~TarnIPMeasurement() override; // deletes the records in `data`

    // Deletes every record in `data` and empties it.
    void ClearMeasData();

    double secondDistance = 0.0;
    double probeRadius = 0.0;
    CStringArray textLines;
    CString collectionName;
    CString groupName;
    CString targetName;
    std::int32_t modeFlag = 1;
    CObArray data; // TarnIPMeasData records, owned
};

class CALDER_API TarnIPUpdate : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPUpdate)
    TarnIPUpdate() = default;
    TarnIPUpdate(const TarnIPUpdate&) = delete;
    TarnIPUpdate& operator=(const TarnIPUpdate&) = delete;
    ~TarnIPUpdate() override; // deletes the records in `data`

    double secondDistance = 0.0;
    double probeRadius = 0.0;
    CObArray data; // exactly one TarnIPMeasData record, owned
};

// ---- Geometry packets ----

class CALDER_API TarnIPGeom : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPGeom)
    CString collectionName;
    CString name;
    CStringArray textLines;
};

class CALDER_API TarnIPGeomFrame : public TarnIPGeom {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPGeomFrame)
    Transform transform;
    std::int32_t flagA = 0;
    std::int32_t flagB = 0;
    std::int32_t flagC = 0;
    std::int32_t flagD = 0;
    double secondDistance = 0.0;
    double probeRadius = 0.0;
};

class CALDER_API TarnIPGeomLine : public TarnIPGeom {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPGeomLine)
    Vector point1;
    Vector point2;
    std::int32_t code = 0; // 0 to 255
};

class CALDER_API TarnIPGeomCircle : public TarnIPGeom {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPGeomCircle)
    Transform transform;
    double radius = 0.0;
};

class CALDER_API TarnIPGeomSphere : public TarnIPGeom {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPGeomSphere)
    Vector center;
    double radius = 0.0;
};

class CALDER_API TarnIPGeomCylinder : public TarnIPGeom {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPGeomCylinder)
    Vector point1;
    Vector point2;
    double radius = 0.0;
};

// ---- Frames of a network of instruments ----

class CALDER_API TarnIPNetworkElement : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPNetworkElement)
    CString name;
    double matrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; // row order
};

class CALDER_API TarnIPNetworkElementList : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPNetworkElementList)
    CalderObArray<TarnIPNetworkElement> elements; // owned
};

// ---- Tracking and clouds ----

class CALDER_API TarnIPPointSetTracking : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPPointSetTracking)
    VectorNamedArray namedPoints;
};

struct CALDER_API TarnIPScanStripePoint {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct CALDER_API TarnIPScanStripe {
    std::vector<TarnIPScanStripePoint> points;
    Transform transform;
};

class CALDER_API TarnIPScanStripeCloud : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPScanStripeCloud)
    // Starts a new, empty stripe; AddPoint and LastStripe act on it.
    void AddStripe();
    // Adds a point to the last stripe (starting one when there is none).
    void AddPoint(TarnIPScanStripePoint& point);
    // The stripe added last; starts one when there is none.
    TarnIPScanStripe& LastStripe();

    CString collectionName;
    CString name;
    std::vector<TarnIPScanStripe> stripes;
};

struct CALDER_API TarnIPCloudBlockPt {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

class CALDER_API TarnIPCloud : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPCloud)
    void AddPoint(TarnIPCloudBlockPt& point);
    void Reserve(std::size_t n) { points.reserve(n); }

    CString collectionName;
    CString name;
    std::vector<TarnIPCloudBlockPt> points;
};

// ---- Commands and reports to the host ----

class CALDER_API TarnIPInstReportItem : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPInstReportItem)
    CString heading;
    CString note;
    CStringArray lines;
};

class CALDER_API TarnPPRunMP : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnPPRunMP)
    CString planName;
    std::int32_t runOption = 0;
};

class CALDER_API TarnIPFlags : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPFlags)
    std::int32_t flags = 0;
};

// ---- Packets received from the host ----

// Collection, group and target names set by the host.
class CALDER_API TarnIPNames : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPNames)
    CString firstText;
    CString secondText;
    CString thirdText;
};

// Start (mode 1) or stop (mode 0) measuring.
class CALDER_API TarnIPStartStop : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPStartStop)
    std::int32_t mode = 0;
};

struct CALDER_API TarnIPBatchElement {
    CString elementText1;
    CString elementText2;
    CString elementText3;
    Vector position;
};

// A request to measure a batch of named points.
class CALDER_API TarnIPBatchMeasure : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPBatchMeasure)
    CString firstSuffix;
    CString secondSuffix;
    std::vector<TarnIPBatchElement> elements;
};

// A list of points near which the host wants automatic measurement.
class CALDER_API TarnIPAutoMeasProximity : public CObject {
public:
    CALDER_DECLARE_RUNTIME_CLASS(TarnIPAutoMeasProximity)
    struct Element {
        CString text;
        Vector position;
        bool flag = false;
        double value = 0.0;
    };

    int GetElementCount() const { return static_cast<int>(elements.size()); }
    // Copies element `index` out; returns false (outputs untouched) when out of range.
    bool GetElement(int index, CString& text, Vector& position, bool& flag, double& value) const;

    std::vector<Element> elements;
};
