// Address parsing, composing, path resolution and a chain of merges, on arbitrary text.
// Input: one address per line; the first is parsed alone, every line is merged in turn into one
// current address (as a redirect chain would be).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "http/IdHTTPExceptions.h"
#include "http/IdURI.h"

using namespace tarnwick;

namespace {

struct Request : TIdURIRequest {
    TIdHTTPMethod method = hmGet;
    std::string username, password, target, host;

    TIdHTTPMethod Method() const override { return method; }
    std::string Username() const override { return username; }
    void SetUsername(std::string v) override { username = std::move(v); }
    std::string Password() const override { return password; }
    void SetPassword(std::string v) override { password = std::move(v); }
    void SetTarget(std::string v) override { target = std::move(v); }
    void SetHost(std::string v) override { host = std::move(v); }
};

void CheckParse(std::string_view text) {
    TIdURI uri(text);
    FUZZ_CHECK(uri.SourceText.find('\\') == std::string::npos);
    if (!uri.Protocol.empty()) FUZZ_CHECK(!uri.Path.empty() && uri.Path[0] == '/');
    if (uri.Password.size() > 0) FUZZ_CHECK(!uri.UserName.empty());
    try {
        const std::string full = uri.ComposeUri(TIdURIOptionalFields::IncludeAuthInfo |
                                                TIdURIOptionalFields::IncludeBookmark);
        const std::string plain = uri.ComposeUriPlain();
        FUZZ_CHECK(uri.SourceText == full);
        FUZZ_CHECK(plain.size() <= full.size());
    } catch (const EIdURIException&) {
        FUZZ_CHECK(uri.Protocol.empty() || uri.Host.empty());
    }
}

void CheckResolve(std::string_view base, std::string_view path) {
    const std::string r = ResolvePath(base, path, '/');
    if (!path.empty() && path[0] == '/')
        FUZZ_CHECK(r == path);
    else
        FUZZ_CHECK(r.find("//") == std::string::npos);
    std::string source(base);
    const std::string token = CutToken(source, path.substr(0, 2), true, path.size() % 2 == 0);
    FUZZ_CHECK(token.size() + source.size() <= base.size());
    FUZZ_CHECK(FindLast(path.substr(0, 1), base, std::ptrdiff_t(path.size()) - 1) <= base.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    TIdURI current;
    Request request;
    std::string_view previous;
    for (int n = 0; n < 16 && !input.empty(); ++n) {
        const auto end = input.find('\n');
        const std::string_view address = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

        CheckParse(address);
        CheckResolve(previous, address);
        previous = address;

        request.method = address.size() % 3 == 0 ? hmOptions : hmGet;
        try {
            MergeRequestAddress(current, address, request);
            FUZZ_CHECK(request.target == "*" ||
                       request.target == current.Path + current.Document + current.Params);
            FUZZ_CHECK(request.host.compare(0, current.Host.size(), current.Host) == 0);
            FUZZ_CHECK(!current.Port.empty());
            FUZZ_CHECK(!current.Protocol.empty());
        } catch (const EIdUnknownProtocol&) {
        }
    }
    return 0;
}
