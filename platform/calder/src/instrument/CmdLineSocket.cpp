// The host socket given on the command line: "--tarn HOST:PORT" or "--tarn=HOST:PORT".

#include "calder/CmdLineSocket.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace {

struct HostPort {
    std::string_view host;
    unsigned port = 0;
};

std::optional<unsigned> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > 65535)
        return std::nullopt;
    return value;
}

bool PlainHostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

// HOST:PORT, where HOST is a name or IPv4 text, or a bracketed IPv6 address ("[::1]:7300").
std::optional<HostPort> ParseSocket(std::string_view text) {
    HostPort result;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return std::nullopt;
        result.host = text.substr(1, close - 1);
        portText = text.substr(close + 2);
        if (result.host.empty())
            return std::nullopt;
        for (char c : result.host) {
            const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!hex && c != ':' && c != '.' && c != '%' && !PlainHostChar(c))
                return std::nullopt;
        }
        if (result.host.find(':') == std::string_view::npos)
            return std::nullopt;
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        result.host = text.substr(0, colon);
        portText = text.substr(colon + 1);
        if (result.host.empty())
            return std::nullopt;
        for (char c : result.host) {
            if (!PlainHostChar(c)) // an unbracketed IPv6 address lands here too
                return std::nullopt;
        }
    }
    const auto port = ParsePort(portText);
    if (!port)
        return std::nullopt;
    result.port = *port;
    return result;
}

} // namespace

bool CmdLineSocket::ParseCommandLine(int argc, const char* const* argv) {
    if (argv == nullptr)
        return false;
    constexpr std::string_view kOption = "--tarn";
    std::optional<std::string_view> value;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr)
            continue;
        const std::string_view arg(argv[i]);
        if (arg == kOption) {
            if (i + 1 >= argc || argv[i + 1] == nullptr)
                return false; // the option without its value
            value = std::string_view(argv[++i]);
        } else if (arg.size() > kOption.size() && arg.substr(0, kOption.size()) == kOption &&
                   arg[kOption.size()] == '=') {
            value = arg.substr(kOption.size() + 1);
        }
    }
    if (!value)
        return false;
    const auto parsed = ParseSocket(*value);
    if (!parsed)
        return false;
    socketGiven = TRUE;
    host.assign(parsed->host.begin(), parsed->host.end());
    port = parsed->port;
    return true;
}
