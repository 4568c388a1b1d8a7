#include "Commands.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace tarnhostsim {

const double kDefaultTransform[16] = {
    0, -1, 0, 10, //
    1, 0,  0, 20, //
    0, 0,  1, 30, //
    0, 0,  0, 1,
};

namespace {

constexpr unsigned kMaxProximityElements = 1000000;
constexpr std::int64_t kMaxWaitMs = 24LL * 3600 * 1000;
constexpr std::int64_t kDefaultLogonWaitMs = 10000;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// Splits into words: blanks separate, double quotes group (\" and \\ escape inside them),
// "" is an empty word, and an unquoted lone - stands for an empty text.
bool Tokenize(std::string_view line, std::vector<std::string>& words, std::string& error) {
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsSpace(line[i]))
            ++i;
        if (i == line.size())
            return true;
        std::string word;
        bool quoted = false;
        while (i < line.size() && !IsSpace(line[i])) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            quoted = true;
            ++i;
            while (true) {
                if (i == line.size()) {
                    error = "unterminated quote";
                    return false;
                }
                const char c = line[i++];
                if (c == '"')
                    break;
                if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\'))
                    word += line[i++];
                else
                    word += c;
            }
        }
        if (!quoted && word == "-")
            word.clear();
        words.push_back(std::move(word));
    }
}

// Text that stands for itself: a lone - is empty, one quoted word loses its quotes.
bool UnquoteRest(std::string_view rest, std::string& text, std::string& error) {
    rest = Trim(rest);
    if (rest.size() >= 2 && rest.front() == '"') {
        std::vector<std::string> words;
        if (!Tokenize(rest, words, error))
            return false;
        if (words.size() == 1) {
            text = words.front();
            return true;
        }
    }
    text = rest == "-" ? std::string() : std::string(rest);
    return true;
}

template <typename T>
bool ParseInteger(std::string_view text, T& value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool ParseNumber(std::string_view text, double& value) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           std::isfinite(value);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

bool ParseBatchElements(std::string_view list, calder::Batch& batch, std::string& error) {
    int index = 0;
    for (std::string_view element : Split(list, ';')) {
        if (Trim(element).empty())
            continue; // tolerate a trailing or doubled ';'
        ++index;
        const std::vector<std::string_view> parts = Split(element, ',');
        if (parts.size() != 6) {
            error = "batch element " + std::to_string(index) + " (" + std::string(element) +
                    "): expected t1,t2,t3,x,y,z";
            return false;
        }
        double xyz[3];
        for (int k = 0; k < 3; ++k) {
            if (!ParseNumber(parts[3 + static_cast<std::size_t>(k)], xyz[k])) {
                error = "batch element " + std::to_string(index) + ": '" +
                        std::string(parts[3 + static_cast<std::size_t>(k)]) + "' is not a finite number";
                return false;
            }
        }
        const auto text = [](std::string_view part) {
            return Trim(part) == "-" ? std::string() : std::string(part);
        };
        calder::BatchElement* e = batch.add_elements();
        e->set_elementtext1(text(parts[0]));
        e->set_elementtext2(text(parts[1]));
        e->set_elementtext3(text(parts[2]));
        e->mutable_position()->set_x(xyz[0]);
        e->mutable_position()->set_y(xyz[1]);
        e->mutable_position()->set_z(xyz[2]);
    }
    return true;
}

bool ExpectArgs(const std::vector<std::string>& words, std::size_t min, std::size_t max, const char* usage,
                std::string& error) {
    const std::size_t args = words.size() - 1;
    if (args >= min && args <= max)
        return true;
    error = std::string("usage: ") + usage;
    return false;
}

bool ParseMs(const std::string& text, std::chrono::milliseconds& duration, std::string& error) {
    std::int64_t ms = 0;
    if (!ParseInteger(text, ms) || ms < 0 || ms > kMaxWaitMs) {
        error = "'" + text + "' is not a duration in milliseconds (0 to " + std::to_string(kMaxWaitMs) + ")";
        return false;
    }
    duration = std::chrono::milliseconds(ms);
    return true;
}

} // namespace

bool ParseCommand(std::string_view line, Command& command, std::string& error) {
    command = Command();
    const std::string_view trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == '#')
        return true;

    std::vector<std::string> words;
    if (!Tokenize(trimmed, words, error))
        return false;
    std::string name = words.front();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    calder::HostFrame& frame = command.frame;
    command.kind = Command::Kind::send;

    if (name == "names") {
        if (!ExpectArgs(words, 3, 3, "names COLLECTION GROUP TARGET (- or \"\" for an empty name)", error))
            return false;
        calder::Names* names = frame.mutable_names();
        names->set_firsttext(words[1]);
        names->set_secondtext(words[2]);
        names->set_thirdtext(words[3]);
    } else if (name == "start" || name == "stop") {
        if (!ExpectArgs(words, 0, 0, name == "start" ? "start" : "stop", error))
            return false;
        frame.mutable_startstop()->set_mode(name == "start" ? 1 : 0);
    } else if (name == "startstop") {
        std::int32_t mode = 0;
        if (!ExpectArgs(words, 1, 1, "startstop MODE", error))
            return false;
        if (!ParseInteger(words[1], mode)) {
            error = "startstop: '" + words[1] + "' is not a 32-bit integer";
            return false;
        }
        frame.mutable_startstop()->set_mode(mode);
    } else if (name == "startmeasuring") {
        if (!ExpectArgs(words, 0, 0, "startmeasuring", error))
            return false;
        frame.mutable_startmeasuring();
    } else if (name == "batch") {
        if (!ExpectArgs(words, 2, 3, "batch SUFFIX1 SUFFIX2 [t1,t2,t3,x,y,z[;...]]", error))
            return false;
        calder::Batch* batch = frame.mutable_batch();
        batch->set_firstsuffix(words[1]);
        batch->set_secondsuffix(words[2]);
        if (words.size() == 4 && !ParseBatchElements(words[3], *batch, error))
            return false;
    } else if (name == "opcheck") {
        const std::size_t end = trimmed.find_first_of(" \t");
        std::string text;
        if (end != std::string_view::npos && !UnquoteRest(trimmed.substr(end), text, error))
            return false;
        frame.mutable_opcheck()->set_command(text);
    } else if (name == "proximity") {
        unsigned count = 0;
        if (!ExpectArgs(words, 1, 1, "proximity N", error))
            return false;
        if (!ParseInteger(words[1], count) || count > kMaxProximityElements) {
            error = "proximity: '" + words[1] + "' is not a count from 0 to " +
                    std::to_string(kMaxProximityElements);
            return false;
        }
        calder::AutoMeasProximity* proximity = frame.mutable_automeasproximity();
        for (unsigned k = 1; k <= count; ++k) {
            calder::ProximityElement* e = proximity->add_elements();
            e->set_text("P" + std::to_string(k));
            e->mutable_position()->set_x(k);
            e->mutable_position()->set_y(2.0 * k);
            e->mutable_position()->set_z(3.0 * k);
            e->set_flag(k % 2 == 1);
            e->set_value(k / 4.0);
        }
    } else if (name == "transform") {
        if (words.size() != 1 && words.size() != 17) {
            error = "usage: transform [m00 m01 ... m33] (none or all 16 values, row by row, inches)";
            return false;
        }
        calder::Matrix16* m = frame.mutable_instrumenttransformchanged()->mutable_transform();
        for (std::size_t i = 0; i < 16; ++i) {
            double value = kDefaultTransform[i];
            if (words.size() == 17 && !ParseNumber(words[i + 1], value)) {
                error = "transform: '" + words[i + 1] + "' is not a finite number";
                return false;
            }
            m->add_m(value);
        }
    } else if (name == "heartbeat") {
        if (!ExpectArgs(words, 1, 1, "heartbeat off|on", error))
            return false;
        if (words[1] != "on" && words[1] != "off") {
            error = "usage: heartbeat off|on";
            return false;
        }
        command.kind = Command::Kind::heartbeat;
        command.on = words[1] == "on";
    } else if (name == "close") {
        if (!ExpectArgs(words, 0, 0, "close", error))
            return false;
        command.kind = Command::Kind::close;
    } else if (name == "wait") {
        if (!ExpectArgs(words, 1, 1, "wait MS", error) || !ParseMs(words[1], command.duration, error))
            return false;
        command.kind = Command::Kind::wait;
    } else if (name == "waitlogon") {
        if (!ExpectArgs(words, 0, 1, "waitlogon [MS]", error))
            return false;
        command.duration = std::chrono::milliseconds(kDefaultLogonWaitMs);
        if (words.size() == 2 && !ParseMs(words[1], command.duration, error))
            return false;
        command.kind = Command::Kind::waitLogon;
    } else if (name == "quit") {
        if (!ExpectArgs(words, 0, 0, "quit", error))
            return false;
        command.kind = Command::Kind::quit;
    } else {
        error = "unknown command '" + words.front() +
                "' (names, start, stop, startstop, startmeasuring, batch, opcheck, proximity, transform, "
                "heartbeat, close, wait, waitlogon, quit)";
        return false;
    }
    return true;
}

} // namespace tarnhostsim
