// Ownership of records and elements by the packets, and the packets' small builders.

#include "calder/Packets.h"

#include <gtest/gtest.h>

namespace {

int liveRecords = 0;

struct CountedRecord : TarnIPMeasDataUncertXYZ {
    CountedRecord() { ++liveRecords; }
    ~CountedRecord() override { --liveRecords; }
};

int liveElements = 0;

struct CountedElement : TarnIPNetworkElement {
    CountedElement() { ++liveElements; }
    ~CountedElement() override { --liveElements; }
};

TEST(Packets, MeasurementReleasesItsRecords) {
    liveRecords = 0;
    {
        TarnIPMeasurement packet;
        for (int i = 0; i < 3; ++i)
            packet.data.Add(new CountedRecord);
        EXPECT_EQ(liveRecords, 3);
        packet.ClearMeasData();
        EXPECT_EQ(liveRecords, 0);
        EXPECT_TRUE(packet.data.IsEmpty());
        packet.ClearMeasData(); // a second clear finds nothing to delete
        packet.data.Add(new CountedRecord);
        packet.data.Add(new CountedRecord);
    }
    EXPECT_EQ(liveRecords, 0) << "the destructor releases what ClearMeasData has not";

    auto* heap = new TarnIPMeasurement;
    heap->data.Add(new CountedRecord);
    delete static_cast<CObject*>(heap); // deleted through the base, as packet arrays do
    EXPECT_EQ(liveRecords, 0);
}

TEST(Packets, UpdateAndNetworkListReleaseWhatTheyHold) {
    liveRecords = 0;
    liveElements = 0;
    {
        TarnIPUpdate update;
        update.data.Add(new CountedRecord);
        TarnIPNetworkElementList list;
        list.elements.Add(new CountedElement);
        list.elements.Add(new CountedElement);
        EXPECT_EQ(liveRecords, 1);
        EXPECT_EQ(liveElements, 2);
    }
    EXPECT_EQ(liveRecords, 0);
    EXPECT_EQ(liveElements, 0);
}

TEST(Packets, CloudBuildersAppendInOrder) {
    TarnIPScanStripeCloud stripes;
    TarnIPScanStripePoint p{1, 2, 3};
    stripes.AddPoint(p); // starts a stripe when there is none
    stripes.AddStripe();
    TarnIPScanStripePoint q{4, 5, 6};
    stripes.AddPoint(q);
    stripes.AddPoint(q);
    stripes.LastStripe().transform.m[0][3] = 9;
    ASSERT_EQ(stripes.stripes.size(), 2u);
    EXPECT_EQ(stripes.stripes[0].points.size(), 1u);
    EXPECT_EQ(stripes.stripes[1].points.size(), 2u);
    EXPECT_EQ(stripes.stripes[1].transform.m[0][3], 9.0);
    EXPECT_EQ(stripes.stripes[0].transform.m[0][3], 0.0);

    TarnIPCloud cloud;
    TarnIPCloudBlockPt a{1, 1, 1};
    cloud.AddPoint(a);
    a.x = 2;
    cloud.AddPoint(a);
    ASSERT_EQ(cloud.points.size(), 2u);
    EXPECT_EQ(cloud.points[0].x, 1.0);
    EXPECT_EQ(cloud.points[1].x, 2.0);
}

TEST(Packets, ProximityElementsAreReadByIndex) {
    TarnIPAutoMeasProximity list;
    list.elements.push_back({L"P1", Vector(1, 2, 3), true, 0.5});
    EXPECT_EQ(list.GetElementCount(), 1);
    CString text = L"untouched";
    Vector position(9, 9, 9);
    bool flag = false;
    double value = 0;
    EXPECT_FALSE(list.GetElement(1, text, position, flag, value));
    EXPECT_FALSE(list.GetElement(-1, text, position, flag, value));
    EXPECT_EQ(text, L"untouched");
    ASSERT_TRUE(list.GetElement(0, text, position, flag, value));
    EXPECT_EQ(text, L"P1");
    EXPECT_EQ(position, Vector(1, 2, 3));
    EXPECT_TRUE(flag);
    EXPECT_EQ(value, 0.5);
}

} // namespace
