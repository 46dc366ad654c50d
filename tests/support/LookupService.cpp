#include "support/LookupService.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarnwick::testing {

namespace {

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string MakeTemporaryFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarnwick-lookup-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    return pattern;
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

LookupService::LookupService(const std::vector<CatalogueEntry>& entries)
    : folder_(MakeTemporaryFolder()) {
    try {
        std::string catalogue = "{\"entries\": [\n";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const CatalogueEntry& e = entries[i];
            catalogue += "  {\"address\": " + JsonString(e.address) +
                         ", \"author\": " + JsonString(e.author) +
                         ", \"title\": " + JsonString(e.title) +
                         ", \"length\": " + JsonString(e.length) +
                         ", \"size\": " + JsonString(e.size) +
                         ", \"filename\": " + JsonString(e.filename) +
                         ", \"fileext\": " + JsonString(e.fileext);
            if (!e.preview.empty()) {
                const std::string name = "preview" + std::to_string(i) + ".jpg";
                WriteFile(std::filesystem::path(folder_) / name, e.preview);
                catalogue += ", \"preview\": " + JsonString(name);
            }
            if (!e.media.empty()) {
                const std::string name = "media" + std::to_string(i) + "." + e.fileext;
                WriteFile(std::filesystem::path(folder_) / name, e.media);
                catalogue += ", \"media\": " + JsonString(name);
            }
            for (const auto& [key, value] : e.extra)
                catalogue += ", " + JsonString(key) + ": " + value;
            catalogue += i + 1 < entries.size() ? "},\n" : "}\n";
        }
        catalogue += "]}\n";
        const std::string path = (std::filesystem::path(folder_) / "catalogue.json").string();
        WriteFile(path, catalogue);

        process_ = std::make_unique<ChildProcess>(std::vector<std::string>{
            "python3", TARNWICK_LOOKUP_SERVICE, "--port", "0", "--catalogue", path,
            "--media-log", (std::filesystem::path(folder_) / "media.log").string()});
        const auto line = process_->ReadLine();
        const int port = line ? std::atoi(line->c_str()) : 0;
        if (port <= 0 || port > 65535) {
            process_->Wait(std::chrono::seconds(5));
            throw std::runtime_error("the lookup service did not start: " +
                                     process_->ErrorOutput());
        }
        port_ = static_cast<std::uint16_t>(port);
    } catch (...) {
        process_.reset();
        std::filesystem::remove_all(folder_);
        throw;
    }
}

std::string LookupService::MediaLog() const {
    std::ifstream in(std::filesystem::path(folder_) / "media.log");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LookupService::~LookupService() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

std::string LookupService::BaseUrl() const { return "http://127.0.0.1:" + PortText(); }

std::optional<int> LookupService::Stop() { return process_->Terminate(); }

}  // namespace tarnwick::testing
