// Folders of the host installation.

#include "TarnFolders.h"

#include "framework/AppData.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <system_error>

namespace calder::instrument {

std::filesystem::path WideToPath(const CString& text) {
    const QString q = QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
    return std::filesystem::path(QFile::encodeName(q).toStdString());
}

CString PathToWide(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string())).toStdWString();
}

std::filesystem::path TarnSubFolder(const CString& sub, bool create, bool* ok) {
    std::filesystem::path base;
    const char* home = std::getenv("TARN_HOME");
    if (home != nullptr && *home != '\0')
        base = std::filesystem::path(home);
    else
        base = framework::UserDataFolder() / "Tarn";
    const std::filesystem::path folder = sub.empty() ? base : base / WideToPath(sub);
    std::error_code ec;
    if (create)
        std::filesystem::create_directories(folder, ec);
    if (ok != nullptr)
        *ok = std::filesystem::is_directory(folder, ec);
    return folder;
}

} // namespace calder::instrument
