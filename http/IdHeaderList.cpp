#include "http/IdHeaderList.h"

#include <stdexcept>
#include <utility>

#include "core/StrUtils.h"

namespace tarnwick {

namespace {

constexpr std::string_view kFoldBreak = "\r\n ";
constexpr std::string_view kFoldBreakSet = " \t,";

}  // namespace

std::size_t TIdHeaderList::CheckedIndex(std::int32_t index, std::size_t limit) const {
    if (index < 0 || std::size_t(index) >= limit)
        throw std::out_of_range("header list index out of range: " + std::to_string(index));
    return std::size_t(index);
}

const std::string& TIdHeaderList::operator[](std::int32_t index) const {
    return lines_[CheckedIndex(index, lines_.size())];
}

void TIdHeaderList::Put(std::int32_t index, std::string line) {
    lines_[CheckedIndex(index, lines_.size())] = std::move(line);
}

void TIdHeaderList::Insert(std::int32_t index, std::string line) {
    const std::size_t at = CheckedIndex(index, lines_.size() + 1);
    lines_.insert(lines_.begin() + std::ptrdiff_t(at), std::move(line));
}

void TIdHeaderList::Delete(std::int32_t index) {
    lines_.erase(lines_.begin() + std::ptrdiff_t(CheckedIndex(index, lines_.size())));
}

std::int32_t TIdHeaderList::Add(std::string line) {
    lines_.push_back(std::move(line));
    return Count() - 1;
}

std::string TIdHeaderList::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

void TIdHeaderList::SetText(std::string_view text) {
    lines_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
        lines_.emplace_back(text.substr(start, end - start));
        if (end < text.size() && text[end] == '\r') {
            ++end;
            if (end < text.size() && text[end] == '\n') ++end;
        } else if (end < text.size()) {
            ++end;
        }
        start = end;
    }
}

TIdHeaderList::TIdHeaderList() : TIdHeaderList(TIdHeaderListSettings{}) {}

TIdHeaderList::TIdHeaderList(TIdHeaderListSettings settings)
    : settings_(std::move(settings)), nameEnd_(TrimRight(settings_.Separator)) {}

std::size_t TIdHeaderList::NameLength(std::string_view line) const {
    if (nameEnd_.empty()) return std::string_view::npos;
    return line.find(nameEnd_);
}

std::string TIdHeaderList::LineName(std::int32_t index) const {
    const std::string& line = (*this)[index];
    const std::size_t n = NameLength(line);
    if (n == std::string::npos) return std::string();
    return settings_.MatchCase ? line.substr(0, n) : UpperCase(std::string_view(line).substr(0, n));
}

bool TIdHeaderList::IsContinuation(std::int32_t index) const {
    const std::string& line = lines_[std::size_t(index)];
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string TIdHeaderList::LineValue(std::int32_t index) const {
    if (index < 0 || index >= Count()) return std::string();
    const std::string& line = lines_[std::size_t(index)];
    std::size_t n = NameLength(line);
    if (n == std::string::npos) n = 0;
    // A line without a separator loses as many bytes as the separator has.
    const std::size_t start = n + nameEnd_.size();
    std::string value = start < line.size() ? line.substr(start) : std::string();
    if (settings_.UnfoldOnRead) {
        for (std::int32_t j = index + 1; j < Count() && IsContinuation(j); ++j)
            value = Trim(value) + " " + Trim(lines_[std::size_t(j)]);
    }
    return Trim(value);
}

std::int32_t TIdHeaderList::FindHeader(std::string_view name) const {
    for (std::int32_t i = 0; i < Count(); ++i) {
        const std::string_view line = lines_[std::size_t(i)];
        const std::size_t n = NameLength(line);
        if (SameText(n == std::string_view::npos ? std::string_view() : line.substr(0, n), name))
            return i;
    }
    return -1;
}

std::string TIdHeaderList::HeaderValue(std::string_view name) const {
    return LineValue(FindHeader(name));
}

void TIdHeaderList::DeleteContinuations(std::int32_t index) {
    while (index + 1 < Count() && IsContinuation(index + 1)) Delete(index + 1);
}

void TIdHeaderList::AssignHeader(std::string_view name, std::string_view value) {
    std::int32_t i = FindHeader(name);
    if (value.empty()) {
        if (i == -1) return;
        if (settings_.FoldOnWrite) DeleteContinuations(i);
        Delete(i);
        return;
    }
    if (i == -1) i = Add(std::string());
    std::string line = std::string(name) + settings_.Separator + std::string(value);
    if (!settings_.FoldOnWrite) {
        Put(i, std::move(line));
        return;
    }
    DeleteContinuations(i);
    std::string t = FoldText(line, kFoldBreak, kFoldBreakSet, settings_.FoldWidth);
    std::vector<std::string> pieces;
    while (!t.empty()) {
        std::string piece;
        if (const auto p = t.find("\r\n"); p != std::string::npos) {
            piece = t.substr(0, p);
            t.erase(0, p + 2);
        } else {
            piece = std::move(t);
            t.clear();
        }
        pieces.push_back(TrimRight(piece));
    }
    lines_.erase(lines_.begin() + i);
    lines_.insert(lines_.begin() + i, pieces.begin(), pieces.end());
}

void TIdHeaderList::CollectValues(std::string_view name, TIdHeaderList* destination) const {
    if (destination == nullptr) return;
    const std::int32_t count = Count();
    for (std::int32_t i = 0; i < count; ++i) {
        const std::string_view line = lines_[std::size_t(i)];
        const std::size_t n = NameLength(line);
        if (SameText(n == std::string_view::npos ? std::string_view() : line.substr(0, n), name))
            destination->Add(LineValue(i));
    }
}

std::string FoldText(std::string_view line, std::string_view breakText, std::string_view breakSet,
                     std::int32_t width) {
    // Positions are 1-based, as in the column count.
    using Pos = std::int64_t;
    const Pos n = Pos(line.size());
    const Pos m = Pos(breakText.size());
    const auto at = [&](Pos p) { return line[std::size_t(p - 1)]; };
    const auto inSet = [&](char c) { return breakSet.find(c) != std::string_view::npos; };

    Pos col = 1, pos = 1, linePos = 1, breakPos = 0;
    bool inQuotes = false;
    bool existing = false;
    std::string result;
    while (pos <= n) {
        const char c = at(pos);
        if (m > 0 && c == breakText[0]) {
            if (!inQuotes) {
                existing = pos + m - 1 <= n &&
                           SameText(line.substr(std::size_t(pos - 1), std::size_t(m)), breakText);
                if (existing) {
                    pos += m - 1;
                    breakPos = pos;
                }
            }
        } else if (inSet(c)) {
            if (!inQuotes) breakPos = pos;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        }
        ++pos;
        ++col;
        if (!inQuotes && (existing || (col > width && breakPos > linePos))) {
            col = pos - breakPos;
            result.append(
                line.substr(std::size_t(linePos - 1), std::size_t(breakPos - linePos + 1)));
            if (c != '"')
                while (pos <= n && (inSet(at(pos)) || at(pos) == '\r' || at(pos) == '\n')) ++pos;
            if (!existing && pos < n) result.append(breakText);
            ++breakPos;
            linePos = breakPos;
            existing = false;
        }
    }
    result.append(line.substr(std::size_t(linePos - 1)));
    return result;
}

}  // namespace tarnwick
