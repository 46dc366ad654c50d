#pragma once

// The queue's kept transfers: the media files of entries whose transfer a later run continues,
// each in the queue's kept folder under a name of the queue's own ("entry-" and 16 hex digits),
// beside the file of its state (KeptStatePath). A name is never a path, so what a queue
// file names never reaches a file outside that folder.

#include <functional>
#include <string>
#include <string_view>

namespace tarnwick {

// A new name, unlike any other in practice (64 random bits).
std::string NewKeptName();
// Whether name can be a kept transfer's: lower-case letters, digits and '-', at most 64 bytes.
bool IsKeptName(std::string_view name) noexcept;
// Removes the named transfer and its state from folder. Never raises.
void RemoveKept(const std::string& folder, const std::string& name) noexcept;
// Removes every file of folder whose transfer's name named() denies. Never raises but for memory.
void RemoveKeptBut(const std::string& folder,
                   const std::function<bool(const std::string& name)>& named);

}  // namespace tarnwick
