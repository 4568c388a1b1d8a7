// The connection object's share of the settings record, and its identity in the logon frame.

#include "../SdkTestSupport.h"
#include "TarnConnection.h"

#include "calder/Archive.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace sdktest {
namespace {

std::string Store(TarnInstBase& object) {
    std::stringstream stream(std::ios::in | std::ios::out | std::ios::binary);
    {
        CArchive archive(stream, CArchive::store);
        object.Serialize(archive);
        archive.Flush();
    }
    return stream.str();
}

TEST(ConnectionRecord, StoresBaseRecordThenOneZeroByte) {
    testsupport::EnsureApplication();
    TarnInstBase base(1, 1);
    TarnConnection connection(nullptr);
    for (TarnInstBase* o : {&base, static_cast<TarnInstBase*>(&connection)}) {
        o->hostAddress = L"192.168.7.9";
        o->hostLabel = L"Cell 4";
        o->hostPort = 7301;
    }
    EXPECT_EQ(Store(connection), Store(base) + std::string(1, '\0'));
}

TEST(ConnectionRecord, LoadConsumesExactlyOneByteWhateverItHolds) {
    testsupport::EnsureApplication();
    TarnInstBase base(1, 1);
    base.hostAddress = L"10.0.0.1";
    base.hostLabel = L"Line";
    base.hostPort = 4000;
    const std::string record = Store(base);

    for (const char extra : {'\0', '\x01', '\x7F', '\xFF'}) {
        std::stringstream stream(record + extra + std::string("tail"),
                                 std::ios::in | std::ios::out | std::ios::binary);
        TarnConnection connection(nullptr);
        {
            CArchive archive(stream, CArchive::load);
            connection.Serialize(archive);
        }
        EXPECT_EQ(connection.hostAddress, L"10.0.0.1");
        EXPECT_EQ(connection.hostLabel, L"Line");
        EXPECT_EQ(connection.hostPort, 4000u);
        EXPECT_EQ(static_cast<std::size_t>(stream.tellg()), record.size() + 1)
            << int(static_cast<unsigned char>(extra));
    }
}

TEST(ConnectionRecord, MissingSdkByteIsAnError) {
    testsupport::EnsureApplication();
    TarnInstBase base(1, 1);
    std::stringstream stream(Store(base), std::ios::in | std::ios::out | std::ios::binary);
    TarnConnection connection(nullptr);
    CArchive archive(stream, CArchive::load);
    EXPECT_THROW(connection.Serialize(archive), CArchiveException);
}

TEST(ConnectionFields, StartValues) {
    testsupport::EnsureApplication();
    TarnConnection connection(nullptr);
    EXPECT_EQ(connection.instrumentType, 0u);
    EXPECT_TRUE(connection.instrumentName.empty());
    EXPECT_FALSE(connection.connected.load());
    EXPECT_EQ(connection.distanceUnit.load(), 1);
    const double factors[5] = {12.0, 1.0, 39.37007874015748, 0.3937007874015748, 0.03937007874015748};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(connection.unitFactors[i], factors[i]) << i;
    EXPECT_STREQ(connection.GetRuntimeClassName(), "TarnConnection");
}

} // namespace
} // namespace sdktest
