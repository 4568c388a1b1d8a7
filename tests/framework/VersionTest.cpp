#include "framework/Version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProgramVersion, CarriesTheBuildsFileAndProductVersion) {
    const framework::VersionInfo& version = framework::ProgramVersion();
    EXPECT_EQ(version.FileVersionText(), EXPECTED_FILE_VERSION);
    EXPECT_EQ(version.productVersion, EXPECTED_PRODUCT_VERSION);
    EXPECT_EQ(std::to_string(version.major) + '.' + std::to_string(version.minor) + '.' +
                  std::to_string(version.patch) + '.' + std::to_string(version.build),
              EXPECTED_FILE_VERSION);
    // The same object every time: callers may keep the reference.
    EXPECT_EQ(&framework::ProgramVersion(), &version);
}

TEST(ProgramVersion, FileVersionTextHasFourParts) {
    const framework::VersionInfo cases[] = {
        {0, 0, 0, 0, ""},
        {1, 0, 0, 16, "1.0.0-ver16"},
        {65535, 12, 3, 65535, "x"},
    };
    const char* expected[] = {"0.0.0.0", "1.0.0.16", "65535.12.3.65535"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].FileVersionText(), expected[i]);
    }
}

} // namespace
