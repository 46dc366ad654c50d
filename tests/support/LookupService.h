#pragma once

// The substitute lookup service (tools/lookup-service/serve.py) run by a test: a child process on
// a free loopback port, serving a catalogue written into a temporary folder. Destroying it stops
// the service with SIGTERM and removes the folder.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace tarnwick::testing {

struct CatalogueEntry {
    std::string address;  // the page address as typed
    std::string author, title, length, size, filename, fileext = "flv";
    std::string preview;  // bytes of the preview file; none when empty
    std::string media;    // bytes of the media file; none when empty
    // Further keys of the entry with their JSON values as written, e.g. {"redirects", "2"}.
    std::map<std::string, std::string> extra;
};

class LookupService {
public:
    // Writes the catalogue and starts the service; throws std::runtime_error when it does not
    // report its port.
    explicit LookupService(const std::vector<CatalogueEntry>& entries);
    ~LookupService();
    LookupService(const LookupService&) = delete;
    LookupService& operator=(const LookupService&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string PortText() const { return std::to_string(port_); }
    // "http://127.0.0.1:<port>"
    std::string BaseUrl() const;
    // The temporary folder that holds the catalogue and its files.
    const std::string& Folder() const { return folder_; }

    // The media requests so far, a line each: "NAME range=R if-range=V STATUS".
    std::string MediaLog() const;

    // Stops the service with SIGTERM; returns its exit status (nothing when it did not end).
    std::optional<int> Stop();

private:
    std::string folder_;
    std::unique_ptr<ChildProcess> process_;
    std::uint16_t port_ = 0;
};

// The JSON text of a string (quoted, with escapes).
std::string JsonString(const std::string& text);

}  // namespace tarnwick::testing
