#pragma once
// The instrument-history entry: heading with the local date and time, note and lines.

#include "calder/Packets.h"

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace tarnsdk {

// "(date and time)" of `when` in the current locale's representation; empty when it does not fit
// 128 wide characters. False (and `text` untouched) when the local time cannot be determined.
bool LocalTimeText(std::time_t when, CString& text);

// The entry for `when`, or null when its local time cannot be determined.
std::unique_ptr<TarnIPInstReportItem> MakeHistoryItem(const std::string& heading,
                                                      const std::vector<std::string>& lines,
                                                      const std::string& note, std::time_t when);

} // namespace tarnsdk
