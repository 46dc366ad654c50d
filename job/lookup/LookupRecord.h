#pragma once

// The lookup record: what the lookup service says about one video, as an ordered list of
// name=value entries in the order received.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwick {

class TLookupRecord {
public:
    // Appends an entry; entries with the same name are all kept.
    void Add(std::string name, std::string value);
    void Clear() noexcept { entries_.clear(); }

    std::size_t Count() const noexcept { return entries_.size(); }
    bool Empty() const noexcept { return entries_.empty(); }
    const std::string& Name(std::size_t index) const { return entries_.at(index).first; }
    const std::string& Value(std::size_t index) const { return entries_.at(index).second; }
    // The entry as text: name, "=", value.
    std::string Entry(std::size_t index) const;

    // The value of the first entry whose name equals name ignoring ASCII case; the empty text when
    // there is none. An entry with an empty name is never matched.
    std::string Values(std::string_view name) const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

// Appends one entry per item of recordText to record. Items are separated by "|"; each item's name
// is its text before the first "=", the value the text after it (later "=" stay in the value); an
// item without "=" gets an empty name and the item as value. n bars give n + 1 entries: a trailing
// bar gives a last entry with empty name and value, the empty text one such entry.
void ParseLookupRecord(std::string_view recordText, TLookupRecord& record);

}  // namespace tarnwick
