#include <gtest/gtest.h>

#include "app/CommandLine.h"

using namespace tarnwick;

TEST(WindowCommandLine, LookupOptionNamesHostAndPort) {
    struct Case {
        std::vector<std::string> arguments;
        bool valid;
        const char* host;  // null: no --lookup
        const char* port;
    };
    const Case cases[] = {
        {{}, true, nullptr, nullptr},
        {{"--lookup", "127.0.0.1:8080"}, true, "127.0.0.1", "8080"},
        {{"--lookup=lookup.example:80"}, true, "lookup.example", "80"},
        {{"--lookup", "[::1]:65535"}, true, "[::1]", "65535"},
        {{"--lookup", "host:007"}, true, "host", "7"},
        {{"--lookup"}, false, nullptr, nullptr},
        {{"--lookup", "127.0.0.1"}, false, nullptr, nullptr},
        {{"--lookup", ":80"}, false, nullptr, nullptr},
        {{"--lookup", "host:"}, false, nullptr, nullptr},
        {{"--lookup", "host:0"}, false, nullptr, nullptr},
        {{"--lookup", "host:65536"}, false, nullptr, nullptr},
        {{"--lookup", "host:8o"}, false, nullptr, nullptr},
        {{"--lookup=", "host:80"}, false, nullptr, nullptr},
        {{"--lookup", "a:1", "--lookup", "b:2"}, false, nullptr, nullptr},
        {{"--lookupx", "a:1"}, false, nullptr, nullptr},
        {{"address"}, false, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const auto parsed = ParseWindowCommandLine(c.arguments);
        std::string shown;
        for (const auto& a : c.arguments) shown += "'" + a + "' ";
        ASSERT_EQ(parsed.has_value(), c.valid) << shown;
        if (!parsed) continue;
        ASSERT_EQ(parsed->lookup.has_value(), c.host != nullptr) << shown;
        if (!c.host) continue;
        EXPECT_EQ(parsed->lookup->Host, c.host) << shown;
        EXPECT_EQ(parsed->lookup->Port, c.port) << shown;
    }
}
