#pragma once

// The state of one download job, written by the worker's thread and read by the download session,
// which tells the front ends (the window, tarnwick-download) through its events. Every field can be
// read at any time from any thread.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

enum TJobStatus : std::int32_t {
    jsCompleted = 1,    // "Download is completed."
    jsUnavailable = 2,  // "Video file is unavailable."
    jsAborted = 3,      // "Download aborted."
};

class TJobState {
public:
    TJobStatus Status() const noexcept { return status_.load(); }
    void SetStatus(TJobStatus status) noexcept { status_.store(status); }

    // Stored made safe (SafeFileName / SafeFileExtension, job/files/FileNames.h).
    std::string FileName() const;
    void SetFileName(std::string_view name);
    std::string FileExtension() const;
    void SetFileExtension(std::string_view extension);

    bool PreviewPresent() const noexcept { return previewPresent_.load(); }
    void SetPreviewPresent(bool present) noexcept { previewPresent_.store(present); }

    std::int64_t TotalBytes() const noexcept { return totalBytes_.load(); }
    void SetTotalBytes(std::int64_t total) noexcept { totalBytes_.store(total); }
    std::int64_t BytesSoFar() const noexcept { return bytesSoFar_.load(); }
    void SetBytesSoFar(std::int64_t bytes) noexcept { bytesSoFar_.store(bytes); }

    // The media answer's Content-Type as the server sent it (empty when it named none).
    std::string MediaType() const;
    void SetMediaType(std::string_view type);

    // The work files the media came in, in the order the conversion reads them (the picture
    // first), relative to the job's folder; streamed when any of them was put together from
    // fragments (a playlist's or a manifest's), which format 0 remuxes rather than delivers.
    std::vector<std::string> Inputs() const;
    bool Streamed() const;
    void SetInputs(std::vector<std::string> inputs, bool streamed);

    // Why the job did not complete, for the front end to show as a hint (empty when nothing
    // went wrong): the failing client's exception text, a work file that could not be made, ...
    std::string ErrorText() const;
    void SetErrorText(std::string_view text);

    // Back to the values of a new job (status 1, empty texts, zero counts).
    void Reset();

private:
    std::atomic<TJobStatus> status_{jsCompleted};
    std::atomic<bool> previewPresent_{false};
    std::atomic<std::int64_t> totalBytes_{0};
    std::atomic<std::int64_t> bytesSoFar_{0};
    mutable std::mutex textMutex_;  // guards the texts below
    std::string fileName_;
    std::string fileExtension_;
    std::string mediaType_;
    std::string errorText_;
    std::vector<std::string> inputs_;
    bool streamed_ = false;
};

}  // namespace tarnwick
