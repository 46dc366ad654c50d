#include "job/session/JobState.h"

#include "job/files/FileNames.h"

namespace tarnwick {

std::string TJobState::FileName() const {
    std::lock_guard lock(textMutex_);
    return fileName_;
}

void TJobState::SetFileName(std::string_view name) {
    std::string safe = SafeFileName(name);
    std::lock_guard lock(textMutex_);
    fileName_ = std::move(safe);
}

std::string TJobState::FileExtension() const {
    std::lock_guard lock(textMutex_);
    return fileExtension_;
}

void TJobState::SetFileExtension(std::string_view extension) {
    std::string safe = SafeFileExtension(extension);
    std::lock_guard lock(textMutex_);
    fileExtension_ = std::move(safe);
}

std::string TJobState::MediaType() const {
    std::lock_guard lock(textMutex_);
    return mediaType_;
}

void TJobState::SetMediaType(std::string_view type) {
    std::lock_guard lock(textMutex_);
    mediaType_ = std::string(type);
}

std::string TJobState::ErrorText() const {
    std::lock_guard lock(textMutex_);
    return errorText_;
}

void TJobState::SetErrorText(std::string_view text) {
    std::lock_guard lock(textMutex_);
    errorText_ = std::string(text);
}

std::vector<std::string> TJobState::Inputs() const {
    std::lock_guard lock(textMutex_);
    return inputs_;
}

bool TJobState::Streamed() const {
    std::lock_guard lock(textMutex_);
    return streamed_;
}

void TJobState::SetInputs(std::vector<std::string> inputs, bool streamed) {
    std::lock_guard lock(textMutex_);
    inputs_ = std::move(inputs);
    streamed_ = streamed;
}

void TJobState::Reset() {
    status_.store(jsCompleted);
    previewPresent_.store(false);
    totalBytes_.store(0);
    bytesSoFar_.store(0);
    std::lock_guard lock(textMutex_);
    fileName_.clear();
    fileExtension_.clear();
    mediaType_.clear();
    errorText_.clear();
    inputs_.clear();
    streamed_ = false;
}

}  // namespace tarnwick
