// Remembered window rectangles in an INI file of the host's Persistence folder.

#include "TarnFolders.h"
#include "calder/Window.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QSettings>
#include <QString>
#include <QWidget>

#include <algorithm>

namespace {

QString SettingsPath() {
    const auto folder = calder::instrument::TarnSubFolder(L"Persistence", true);
    return QString::fromStdString((folder / "WindowPositions.ini").string());
}

QString ToQString(const CString& text) {
    return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size()));
}

// QSettings treats '/' and '\' in a name as group separators; keep each name one level deep.
QString SettingsName(const CString& text) {
    QString name = ToQString(text);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QLatin1Char('\\'), QLatin1Char('_'));
    return name;
}

// Moves (and if need be shrinks) `rect` so that it lies on a screen: a window remembered on a
// monitor that is gone, or far off the desktop, comes back where it can be reached.
QRect ClampToScreens(QRect rect) {
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return rect;
    QScreen* best = nullptr;
    int bestArea = 0;
    for (QScreen* screen : screens) {
        const QRect overlap = screen->availableGeometry().intersected(rect);
        const int area = overlap.isValid() ? overlap.width() * overlap.height() : 0;
        if (area > bestArea) {
            bestArea = area;
            best = screen;
        }
    }
    if (best == nullptr)
        best =
            QGuiApplication::primaryScreen() != nullptr ? QGuiApplication::primaryScreen() : screens.front();
    const QRect area = best->availableGeometry();
    rect.setWidth(std::min(rect.width(), area.width()));
    rect.setHeight(std::min(rect.height(), area.height()));
    if (rect.right() > area.right())
        rect.moveRight(area.right());
    if (rect.bottom() > area.bottom())
        rect.moveBottom(area.bottom());
    if (rect.left() < area.left())
        rect.moveLeft(area.left());
    if (rect.top() < area.top())
        rect.moveTop(area.top());
    return rect;
}

} // namespace

BOOL PersistentWnd::RestoreWndRect(const CString& section, const CString& key, QWidget* window, int /*flags*/,
                                   void* /*reserved*/) {
    if (window == nullptr || key.empty())
        return FALSE;
    QSettings settings(SettingsPath(), QSettings::IniFormat);
    settings.beginGroup(SettingsName(section));
    const QVariant value = settings.value(SettingsName(key));
    if (!value.isValid())
        return FALSE;
    QRect rect = value.toRect();
    if (!rect.isValid() || rect.width() <= 0 || rect.height() <= 0)
        return FALSE;
    if (window->isWindow())
        rect = ClampToScreens(rect);
    window->setGeometry(rect);
    return TRUE;
}

BOOL PersistentWnd::SaveWndRect(const CString& section, const CString& key, QWidget* window, int /*flags*/,
                                void* /*reserved*/) {
    if (window == nullptr || key.empty())
        return FALSE;
    QSettings settings(SettingsPath(), QSettings::IniFormat);
    settings.beginGroup(SettingsName(section));
    settings.setValue(SettingsName(key), window->geometry());
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError ? TRUE : FALSE;
}
