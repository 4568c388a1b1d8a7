#pragma once
// Host discovery: each running host announces itself in one small JSON file in the runtime
// folder ($TARN_RUNTIME_DIR, default $XDG_RUNTIME_DIR/tarn or /tmp/tarn-<uid>).

#include "calder/Export.h"

#include <filesystem>
#include <string>
#include <vector>

namespace calder::discovery {

struct Entry {
    std::string label;   // shown in the picker
    std::string address; // host address text
    unsigned port = 0;
    std::vector<unsigned> instrumentTypes; // empty: takes every type
    long pid = 0;
};

CALDER_API std::filesystem::path RuntimeFolder();

// Announces `entry`; returns the file written (remove it with Withdraw). Empty on failure.
CALDER_API std::filesystem::path Announce(const Entry& entry);
CALDER_API void Withdraw(const std::filesystem::path& file);

// Every announced entry whose process is alive, sorted by label; unreadable files are skipped.
CALDER_API std::vector<Entry> List();

} // namespace calder::discovery
