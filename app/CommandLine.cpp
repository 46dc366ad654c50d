#include "app/CommandLine.h"

namespace tarnwick {

std::optional<TLookupEndpoint> ParseHostAndPort(std::string_view text) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    const std::string_view port = text.substr(colon + 1);
    if (port.empty() || port.size() > 5) return std::nullopt;
    long number = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 65535) return std::nullopt;
    return TLookupEndpoint{std::string(text.substr(0, colon)), std::to_string(number)};
}

std::optional<TWindowCommandLine> ParseWindowCommandLine(const std::vector<std::string>& arguments) {
    constexpr std::string_view option = "--lookup";
    TWindowCommandLine parsed;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        std::string_view value;
        if (argument == option) {
            if (++i == arguments.size()) return std::nullopt;
            value = arguments[i];
        } else if (argument.starts_with(option) && argument.size() > option.size() && argument[option.size()] == '=') {
            value = argument.substr(option.size() + 1);
        } else {
            return std::nullopt;
        }
        if (parsed.lookup) return std::nullopt;
        parsed.lookup = ParseHostAndPort(value);
        if (!parsed.lookup) return std::nullopt;
    }
    return parsed;
}

}  // namespace tarnwick
