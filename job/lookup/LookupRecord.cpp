#include "job/lookup/LookupRecord.h"

#include "core/StrUtils.h"

namespace tarnwick {

void TLookupRecord::Add(std::string name, std::string value) {
    entries_.emplace_back(std::move(name), std::move(value));
}

std::string TLookupRecord::Entry(std::size_t index) const {
    const auto& [name, value] = entries_.at(index);
    return name + "=" + value;
}

std::string TLookupRecord::Values(std::string_view name) const {
    if (name.empty()) return {};
    for (const auto& [entryName, value] : entries_)
        if (SameText(entryName, name)) return value;
    return {};
}

void ParseLookupRecord(std::string_view recordText, TLookupRecord& record) {
    for (;;) {
        const std::size_t bar = recordText.find('|');
        const std::string_view item = recordText.substr(0, bar);
        const std::size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            record.Add({}, std::string(item));
        else
            record.Add(std::string(item.substr(0, equals)), std::string(item.substr(equals + 1)));
        if (bar == std::string_view::npos) return;
        recordText.remove_prefix(bar + 1);
    }
}

}  // namespace tarnwick
