// Translations of the library's English texts, from an optional table file.

#include "calder/Window.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <map>
#include <mutex>

namespace {

std::mutex& TableMutex() {
    static std::mutex m;
    return m;
}

std::map<CString, CString>& Table() {
    static std::map<CString, CString> table;
    return table;
}

// "\n", "\t" and "\\" stand for a line break, a tab and a backslash; any other escape is kept.
QString Unescape(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text.at(i + 1);
            if (next == QLatin1Char('n')) {
                out += QLatin1Char('\n');
                ++i;
                continue;
            }
            if (next == QLatin1Char('t')) {
                out += QLatin1Char('\t');
                ++i;
                continue;
            }
            if (next == QLatin1Char('\\')) {
                out += QLatin1Char('\\');
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace

CString CalderLang::Translate(const CString& english) {
    std::lock_guard lock(TableMutex());
    const auto& table = Table();
    const auto it = table.find(english);
    return it != table.end() ? it->second : english;
}

bool CalderLang::LoadTable(const std::string& path) {
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    std::map<CString, CString> loaded;
    const QString content = QString::fromUtf8(file.readAll());
    for (QString line : content.split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (tab <= 0)
            continue;
        const QString english = Unescape(line.left(tab));
        const QString translation = Unescape(line.mid(tab + 1));
        if (translation.isEmpty())
            continue; // an untranslated entry shows the English text
        loaded[english.toStdWString()] = translation.toStdWString();
    }
    std::lock_guard lock(TableMutex());
    Table() = std::move(loaded);
    return true;
}

void CalderLang::ClearTable() {
    std::lock_guard lock(TableMutex());
    Table().clear();
}
