#pragma once

#include <string>

namespace framework {

// The program's version as compiled in by the build.
struct VersionInfo {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned patch = 0;
    unsigned build = 0;
    std::string productVersion; // for example "1.0.0-ver16"

    std::string FileVersionText() const; // "a.b.c.d"
};

const VersionInfo& ProgramVersion();

} // namespace framework
