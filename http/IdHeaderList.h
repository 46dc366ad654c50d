#pragma once

// A block of message headers held as an ordered list of text lines: one header per line as
// name, separator, value; a line that begins with a space or a tab continues the header above.
// No operation raises on any content.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// The five settings of a header list, fixed at construction.
struct TIdHeaderListSettings {
    // Written between name and value; reading looks for it without its trailing blanks (":").
    std::string Separator = ": ";
    // When false, LineName returns the name upper-cased.
    bool MatchCase = false;
    // LineValue joins the continuation lines that follow.
    bool UnfoldOnRead = true;
    // AssignHeader removes old continuation lines and wraps the new line at FoldWidth.
    bool FoldOnWrite = true;
    std::int32_t FoldWidth = 78;
};

class TIdHeaderList {
public:
    TIdHeaderList();
    explicit TIdHeaderList(TIdHeaderListSettings settings);

    const std::string& Separator() const noexcept { return settings_.Separator; }
    bool MatchCase() const noexcept { return settings_.MatchCase; }
    bool UnfoldOnRead() const noexcept { return settings_.UnfoldOnRead; }
    bool FoldOnWrite() const noexcept { return settings_.FoldOnWrite; }
    std::int32_t FoldWidth() const noexcept { return settings_.FoldWidth; }

    // The plain list. Lines are numbered from 0; an index outside the list throws
    // std::out_of_range (Insert accepts Count(), which appends).
    std::int32_t Count() const noexcept { return std::int32_t(lines_.size()); }
    const std::string& operator[](std::int32_t index) const;
    void Put(std::int32_t index, std::string line);
    void Insert(std::int32_t index, std::string line);
    void Delete(std::int32_t index);
    // Appends a line; returns its index.
    std::int32_t Add(std::string line);
    void Clear() noexcept { lines_.clear(); }
    const std::vector<std::string>& Lines() const noexcept { return lines_; }

    // Every line followed by CR LF.
    std::string Text() const;
    // Replaces the lines by those of text, split at CR LF, LF or CR; a final line break does not
    // start another line.
    void SetText(std::string_view text);

    // The name of line index: the line (upper-cased unless MatchCase) up to the first ":".
    // A line without ":" has the empty name. The index must be in the list.
    std::string LineName(std::int32_t index) const;

    // The value of the header at line index: everything after name and ":", with the
    // continuation lines below joined by single spaces when UnfoldOnRead, trimmed of bytes up to
    // 0x20 at both ends. Empty for an index outside the list.
    std::string LineValue(std::int32_t index) const;

    // The index of the first line whose name equals name ignoring case, or -1. Continuation
    // lines never match, as their leading blank belongs to the name.
    std::int32_t FindHeader(std::string_view name) const;

    // LineValue(FindHeader(name)): the first header of that name, empty when absent.
    std::string HeaderValue(std::string_view name) const;

    // Sets the first header of that name in place (appending it when absent), spelled as given,
    // folded onto continuation lines at FoldWidth when FoldOnWrite. An empty value removes the
    // first header of that name with its continuation lines. Later headers of the same name
    // are never touched.
    void AssignHeader(std::string_view name, std::string_view value);

    // Appends to destination the value of every header of that name, in list order.
    void CollectValues(std::string_view name, TIdHeaderList* destination) const;

private:
    bool IsContinuation(std::int32_t index) const;
    // Length of the name part of a line, or npos when the line has no separator.
    std::size_t NameLength(std::string_view line) const;
    void DeleteContinuations(std::int32_t index);
    std::size_t CheckedIndex(std::int32_t index, std::size_t limit) const;

    TIdHeaderListSettings settings_;
    std::string nameEnd_;  // the separator without its trailing blanks
    std::vector<std::string> lines_;
};

// Inserts breakText into line after the last break point (a byte of breakSet outside double
// quotes) before each place where the column passes width; a breakText already in the line
// counts as a break. A line that never passes width comes back unchanged. Header lists fold with
// breakText CR LF + " ", breakSet " \t," and their FoldWidth.
std::string FoldText(std::string_view line, std::string_view breakText, std::string_view breakSet,
                     std::int32_t width);

}  // namespace tarnwick
