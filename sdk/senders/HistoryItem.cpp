#include "HistoryItem.h"

#include "UnitConversion.h"

#include <cwchar>

namespace tarnsdk {

bool LocalTimeText(std::time_t when, CString& text) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return false;
    wchar_t buffer[128];
    const std::size_t length = std::wcsftime(buffer, sizeof buffer / sizeof buffer[0], L"(%c)", &local);
    text.assign(buffer, length);
    return true;
}

std::unique_ptr<TarnIPInstReportItem> MakeHistoryItem(const std::string& heading,
                                                      const std::vector<std::string>& lines,
                                                      const std::string& note, std::time_t when) {
    CString timeText;
    if (!LocalTimeText(when, timeText))
        return nullptr;
    auto item = std::make_unique<TarnIPInstReportItem>();
    item->heading = CStringFormat(L"%s %s", Widen(heading).c_str(), timeText.c_str());
    item->note = note.empty() ? CString() : Widen(note);
    for (const std::string& line : lines)
        item->lines.Add(Widen(line));
    return item;
}

} // namespace tarnsdk
