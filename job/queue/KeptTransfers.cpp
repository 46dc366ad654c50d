#include "job/queue/KeptTransfers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "job/fetch/KeptState.h"

namespace tarnwick {

std::string NewKeptName() {
    std::random_device random;
    std::uniform_int_distribution<unsigned long long> any;
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", any(random));
    return std::string("entry-") + text;
}

bool IsKeptName(std::string_view name) noexcept {
    return name.size() <= 64 && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
           });
}

void RemoveKept(const std::string& folder, const std::string& name) noexcept {
    if (folder.empty() || name.empty() || !IsKeptName(name)) return;
    try {
        const std::string path = folder + "/" + name;
        ::unlink(path.c_str());
        ::unlink(KeptStatePath(path).c_str());
    } catch (...) {
        // Out of memory: the file stays until the next run's sweep.
    }
}

void RemoveKeptBut(const std::string& folder,
                   const std::function<bool(const std::string& name)>& named) {
    std::error_code ignored;
    for (const auto& file : std::filesystem::directory_iterator(folder, ignored)) {
        const std::string name = file.path().filename().string();
        const std::string transfer = name.substr(0, name.find('.'));
        if (transfer.empty() || !named(transfer)) std::filesystem::remove(file.path(), ignored);
    }
}

}  // namespace tarnwick
