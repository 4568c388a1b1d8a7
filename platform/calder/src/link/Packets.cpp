// The host link's packet classes: ownership of records and elements, and the small builders.

#include "calder/Packets.h"

namespace {

void DeleteRecords(CObArray& data) {
    for (CObject* record : data)
        delete record;
    data.RemoveAll();
}

} // namespace

TarnIPMeasurement::~TarnIPMeasurement() {
    DeleteRecords(data);
}

void TarnIPMeasurement::ClearMeasData() {
    DeleteRecords(data);
}

TarnIPUpdate::~TarnIPUpdate() {
    DeleteRecords(data);
}

void TarnIPScanStripeCloud::AddStripe() {
    stripes.emplace_back();
}

void TarnIPScanStripeCloud::AddPoint(TarnIPScanStripePoint& point) {
    LastStripe().points.push_back(point);
}

TarnIPScanStripe& TarnIPScanStripeCloud::LastStripe() {
    if (stripes.empty())
        stripes.emplace_back();
    return stripes.back();
}

void TarnIPCloud::AddPoint(TarnIPCloudBlockPt& point) {
    points.push_back(point);
}

bool TarnIPAutoMeasProximity::GetElement(int index, CString& text, Vector& position, bool& flag,
                                         double& value) const {
    if (index < 0 || static_cast<std::size_t>(index) >= elements.size())
        return false;
    const Element& e = elements[static_cast<std::size_t>(index)];
    text = e.text;
    position = e.position;
    flag = e.flag;
    value = e.value;
    return true;
}
