#include "job/fetch/WorkFile.h"

#include <unistd.h>

#include <utility>

namespace tarnwick {

TWorkFile::TWorkFile(std::string path) : path_(std::move(path)) {
    ::unlink(path_.c_str());
    try {
        file_.emplace(path_, fmCreate);
    } catch (...) {
        ::unlink(path_.c_str());
        throw;
    }
}

TWorkFile::~TWorkFile() {
    file_.reset();
    if (!keep_) ::unlink(path_.c_str());
}

}  // namespace tarnwick
