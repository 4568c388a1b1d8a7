// Host discovery through small JSON files in a per-user runtime folder.

#include "calder/Discovery.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QString>

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <system_error>
#include <tuple>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace calder::discovery {
namespace {

// An announcement file is a few hundred bytes; anything much larger is not one of ours.
constexpr qint64 kMaxEntryFileBytes = 64 * 1024;

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool ProcessAlive(long pid) {
    if (pid <= 0)
        return false; // 0 and negative values would address process groups
    if (::kill(static_cast<pid_t>(pid), 0) == 0)
        return true;
    return errno == EPERM; // exists, but belongs to someone else
}

// The shared fallback under /tmp could have been made by another user to plant fake hosts:
// only a folder that we own and that nobody else may write is used.
bool SafeSharedFolder(const fs::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0)
        return false;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        spdlog::warn("discovery: ignoring runtime folder {} (not a private folder of this user)",
                     folder.string());
        return false;
    }
    return true;
}

bool IsFallbackFolder() {
    return EnvOrEmpty("TARN_RUNTIME_DIR").empty() && EnvOrEmpty("XDG_RUNTIME_DIR").empty();
}

// Creates the runtime folder (private to the user) when missing.
bool EnsureFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        fs::create_directories(folder, ec);
        if (ec) {
            spdlog::warn("discovery: cannot create {}: {}", folder.string(), ec.message());
            return false;
        }
        if (IsFallbackFolder())
            ::chmod(folder.c_str(), 0700);
    }
    if (IsFallbackFolder())
        return SafeSharedFolder(folder);
    return fs::is_directory(folder, ec);
}

bool ReadEntry(const fs::path& file, Entry& entry) {
    QFile in(QFile::decodeName(QByteArray::fromStdString(file.string())));
    if (!in.open(QIODevice::ReadOnly) || in.size() > kMaxEntryFileBytes)
        return false;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject obj = doc.object();
    const QJsonValue address = obj.value(QStringLiteral("address"));
    const QJsonValue port = obj.value(QStringLiteral("port"));
    const QJsonValue pid = obj.value(QStringLiteral("pid"));
    if (!address.isString() || address.toString().isEmpty() || !port.isDouble() || !pid.isDouble())
        return false;
    const double portValue = port.toDouble();
    if (portValue < 1 || portValue > 65535 || portValue != static_cast<double>(static_cast<int>(portValue)))
        return false;

    entry.label = obj.value(QStringLiteral("label")).toString().toStdString();
    entry.address = address.toString().toStdString();
    entry.port = static_cast<unsigned>(portValue);
    entry.pid = static_cast<long>(pid.toDouble());
    entry.instrumentTypes.clear();
    const QJsonValue types = obj.value(QStringLiteral("instrumentTypes"));
    if (types.isArray()) {
        for (const QJsonValue& t : types.toArray()) {
            const double v = t.toDouble(-1);
            if (v >= 0 && v <= 65535)
                entry.instrumentTypes.push_back(static_cast<unsigned>(v));
        }
    }
    return true;
}

} // namespace

fs::path RuntimeFolder() {
    const std::string explicitDir = EnvOrEmpty("TARN_RUNTIME_DIR");
    if (!explicitDir.empty())
        return fs::path(explicitDir);
    const std::string xdg = EnvOrEmpty("XDG_RUNTIME_DIR");
    if (!xdg.empty())
        return fs::path(xdg) / "tarn";
    return fs::path("/tmp") / ("tarn-" + std::to_string(::getuid()));
}

fs::path Announce(const Entry& entry) {
    const fs::path folder = RuntimeFolder();
    if (!EnsureFolder(folder))
        return {};
    const long pid = entry.pid > 0 ? entry.pid : static_cast<long>(::getpid());
    const fs::path file =
        folder / ("host-" + std::to_string(pid) + "-" + std::to_string(entry.port) + ".json");

    QJsonObject obj;
    obj.insert(QStringLiteral("label"), QString::fromStdString(entry.label));
    obj.insert(QStringLiteral("address"), QString::fromStdString(entry.address));
    obj.insert(QStringLiteral("port"), static_cast<qint64>(entry.port));
    QJsonArray types;
    for (unsigned t : entry.instrumentTypes)
        types.append(static_cast<qint64>(t));
    obj.insert(QStringLiteral("instrumentTypes"), types);
    obj.insert(QStringLiteral("pid"), static_cast<qint64>(pid));

    // Written to a temporary file and renamed, so a reader never sees half an entry.
    QSaveFile out(QFile::decodeName(QByteArray::fromStdString(file.string())));
    if (!out.open(QIODevice::WriteOnly)) {
        spdlog::warn("discovery: cannot write {}", file.string());
        return {};
    }
    out.write(QJsonDocument(obj).toJson(QJsonDocument::Compact));
    if (!out.commit()) {
        spdlog::warn("discovery: cannot write {}", file.string());
        return {};
    }
    return file;
}

void Withdraw(const fs::path& file) {
    if (file.empty())
        return;
    std::error_code ec;
    fs::remove(file, ec);
}

std::vector<Entry> List() {
    std::vector<Entry> entries;
    const fs::path folder = RuntimeFolder();
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return entries;
    if (IsFallbackFolder() && !SafeSharedFolder(folder))
        return entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& file = it->path();
        if (file.extension() != ".json" || !it->is_regular_file(ec))
            continue;
        Entry entry;
        if (!ReadEntry(file, entry)) {
            spdlog::debug("discovery: skipping unreadable entry {}", file.string());
            continue;
        }
        if (!ProcessAlive(entry.pid))
            continue;
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.label, a.address, a.port, a.pid) < std::tie(b.label, b.address, b.port, b.pid);
    });
    return entries;
}

} // namespace calder::discovery
