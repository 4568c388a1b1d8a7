#include "framework/Version.h"

#include <string>

#if !defined(ORRIN_TARN_VERSION_MAJOR) || !defined(ORRIN_TARN_VERSION_MINOR) ||                              \
    !defined(ORRIN_TARN_VERSION_PATCH) || !defined(ORRIN_TARN_VERSION_BUILD) ||                              \
    !defined(ORRIN_TARN_PRODUCT_VERSION)
#error "The build passes the program version as compile definitions"
#endif

// Each part of the file version is one 16-bit field.
static_assert(ORRIN_TARN_VERSION_MAJOR <= 0xFFFF && ORRIN_TARN_VERSION_MINOR <= 0xFFFF &&
              ORRIN_TARN_VERSION_PATCH <= 0xFFFF && ORRIN_TARN_VERSION_BUILD <= 0xFFFF);

namespace framework {

std::string VersionInfo::FileVersionText() const {
    return std::to_string(major) + '.' + std::to_string(minor) + '.' + std::to_string(patch) + '.' +
           std::to_string(build);
}

const VersionInfo& ProgramVersion() {
    static const VersionInfo version{ORRIN_TARN_VERSION_MAJOR, ORRIN_TARN_VERSION_MINOR,
                                     ORRIN_TARN_VERSION_PATCH, ORRIN_TARN_VERSION_BUILD,
                                     ORRIN_TARN_PRODUCT_VERSION};
    return version;
}

} // namespace framework
