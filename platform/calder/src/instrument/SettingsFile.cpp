// Whole-file reads and crash-safe writes.

#include "SettingsFile.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>

namespace calder::instrument {
namespace {
QString ToQPath(const std::filesystem::path& file) {
    return QFile::decodeName(QByteArray::fromStdString(file.string()));
}
} // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& file, std::size_t maxBytes) {
    QFile in(ToQPath(file));
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (in.size() < 0 || static_cast<std::size_t>(in.size()) > maxBytes)
        return std::nullopt;
    const QByteArray bytes = in.read(static_cast<qint64>(maxBytes) + 1);
    if (static_cast<std::size_t>(bytes.size()) > maxBytes)
        return std::nullopt;
    return bytes.toStdString();
}

bool WriteFileAtomically(const std::filesystem::path& file, const std::string& bytes) {
    QSaveFile out(ToQPath(file));
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

std::string SafeFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return {};
    std::string safe = name;
    for (char& c : safe) {
        if (c == '/' || c == '\0')
            c = '_';
    }
    return safe;
}

} // namespace calder::instrument
