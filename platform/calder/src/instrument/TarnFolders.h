#pragma once
// Folders of the host installation and the conversions between wide texts and file paths.

#include "calder/ObjectModel.h"

#include <filesystem>

namespace calder::instrument {

// $TARN_HOME/<sub>, default <user data folder>/Tarn/<sub>. Creates it when `create` is set;
// `ok` (optional) reports whether the folder exists afterwards.
std::filesystem::path TarnSubFolder(const CString& sub, bool create, bool* ok = nullptr);

// Wide text <-> file system path (file names are UTF-8 on this platform).
std::filesystem::path WideToPath(const CString& text);
CString PathToWide(const std::filesystem::path& path);

} // namespace calder::instrument
