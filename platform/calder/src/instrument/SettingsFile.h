#pragma once
// Whole-file reads and crash-safe writes of the instrument's settings record.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace calder::instrument {

// The settings record is a few hundred bytes; a larger file is not one.
constexpr std::size_t kMaxSettingsFileBytes = 1u << 20;

// The file's bytes; nullopt when it is missing, unreadable or larger than `maxBytes`.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes);

// Writes `bytes` to a temporary file beside `file` and renames it over `file`, so that a crash
// leaves either the old or the new contents, never half a file. False on any failure (the old
// file is then untouched).
bool WriteFileAtomically(const std::filesystem::path& file, const std::string& bytes);

// A settings file name as one path component: separators and zero characters become '_'.
// Empty for a name that cannot be a file name ("", ".", "..").
std::string SafeFileName(const std::string& name);

} // namespace calder::instrument
