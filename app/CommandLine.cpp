#include "app/CommandLine.h"

namespace tarnwick {

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
