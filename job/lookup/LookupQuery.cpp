#include "job/lookup/LookupQuery.h"

#include <algorithm>
#include <exception>
#include <memory>

#include <cerrno>
#include <cstring>

#include "core/StrUtils.h"
#include "job/lookup/LookupSettings.h"
#include "net/IdMessages.h"
#include "net/Sockets.h"

namespace tarnwick {

namespace {

// The lookup's line client, named; its owner (when given) holds it for the length of the lookup,
// and its close ends the connection.
std::unique_ptr<TTcpClient> MakeLookupClient(TComponent* owner) {
    auto client = std::make_unique<TTcpClient>(owner);
    client->SetName(std::string(kLookupClientName));
    return client;
}

// The status line quoted for a hint: at most 100 bytes, control bytes shown as "?".
std::string Quoted(std::string_view line) {
    constexpr std::size_t kShown = 100;
    std::string text(line.substr(0, kShown));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    if (line.size() > kShown) text += "...";
    return "\"" + text + "\"";
}

std::string SystemErrorText(int error) {
    return error != 0 ? std::strerror(error) : "unknown error";
}

std::string ReadRecordText(TTcpClient& client, std::string& reason, const int& lastError) {
    // One byte beyond the limit shows an answer that does not end within it.
    const auto receiveLine = [&client] {
        const auto received = static_cast<std::size_t>(client.BytesReceived());
        return client.ReceiveLine("\r\n",
                                  kLookupAnswerLimit + 1 - std::min(received, kLookupAnswerLimit));
    };
    const auto overLimit = [&client] {
        return static_cast<std::size_t>(client.BytesReceived()) > kLookupAnswerLimit;
    };
    const std::string status = receiveLine();
    if (status != kLookupStatusLine) {
        if (!status.empty()) {
            reason = "The lookup service answered " + Quoted(status) + ".";
        } else if (lastError == EAGAIN || lastError == EWOULDBLOCK) {
            reason = Format(msg::kNoDataReceived, client.StallTimeout / 1000);
        } else if (lastError != 0) {
            reason = "The lookup service's connection failed: " + SystemErrorText(lastError) + ".";
        } else {
            reason = "The lookup service closed the connection without an answer.";
        }
        return std::string(kLookupFailedRecord);
    }
    // An empty line ends the header block, and is also what an ended connection reads as.
    std::string headers;
    for (;;) {
        const std::string line = receiveLine();
        if (overLimit()) {
            reason = "The lookup service's answer is too long.";
            return std::string(kLookupFailedRecord);
        }
        headers.append(line).push_back('\r');
        if (line.empty()) break;
    }
    if (headers.find(kFileContentPrefix) == std::string::npos) {
        reason = "The lookup service's answer carries no record.";
        return std::string(kLookupFailedRecord);
    }
    return ExtractHeaderValue(headers, kFileContentPrefix);
}

}  // namespace

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

TLookupEndpoint DefaultLookupEndpoint() { return {TARNWICK_LOOKUP_HOST, TARNWICK_LOOKUP_PORT}; }

std::string BuildLookupRequest(std::string_view host, std::string_view site, std::string_view hd,
                               std::string_view address) {
    std::string request = "HEAD /download.php?server=";
    request.append(site).append("&hdfile=").append(hd).append("&videourl=");
    for (const char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            request += Format("%%%02X", byte);
        else
            request += c;
    }
    request.append(" HTTP/1.0\r\nHost: ").append(host).append("\r\n\r\n");
    return request;
}

std::string RequestLookupRecord(const TLookupEndpoint& endpoint, TComponent* owner,
                                std::string_view site, std::string_view hd,
                                std::string_view address,
                                const std::function<void(TTcpClient&)>& beforeConnect,
                                std::string* failureReason,
                                const TIdAbortSignal& abort) {
    std::string reason;
    std::string record;
    try {
        TScopedComponent<TTcpClient> client(owner, MakeLookupClient(owner));
        if (beforeConnect) beforeConnect(*client);
        const TIdAbortSignal::TRegistration abortLine =
            abort.OnAbort([&client] { client->AbortConnection(); });
        client->SetRemoteHost(endpoint.Host);
        client->SetRemotePort(endpoint.Port);
        client->ConnectTimeout = endpoint.ConnectTimeout;
        client->StallTimeout = endpoint.StallTimeout;
        // The socket layer reports a failed call only through this event.
        int lastError = 0;
        client->OnError = [&lastError](TBaseSocket&, std::int32_t error) { lastError = error; };
        if (client->ConnectClient()) {
            client->SendLine(BuildLookupRequest(endpoint.Host, site, hd, address), "\r\n");
            record = ReadRecordText(*client, reason, lastError);
        } else {
            record = std::string(kLookupFailedRecord);
            reason = "Cannot connect to the lookup service at " + endpoint.Host + ":" +
                     endpoint.Port + ": " +
                     (lastError == ETIMEDOUT && endpoint.ConnectTimeout > 0
                          ? std::string(msg::kConnectTimeout)
                          : SystemErrorText(lastError) + ".");
        }
    } catch (const std::exception& e) {
        record = std::string(kLookupFailedRecord);
        reason = e.what();
    }
    if (failureReason) *failureReason = std::move(reason);
    return record;
}

std::string ExtractHeaderValue(std::string_view headerText, std::string_view prefix) {
    const std::size_t at = headerText.find(prefix);
    if (at == std::string_view::npos) return {};
    const std::size_t start = at + prefix.size();
    const std::size_t end = headerText.find('\r', start);
    if (end == std::string_view::npos) return {};
    return std::string(headerText.substr(start, end - start));
}

}  // namespace tarnwick
