#include "job/lookup/BoundedJson.h"

#include <cstddef>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick {

namespace {

using Json = nlohmann::json;

// Builds the value from the parser's events, leaving out every container at maxDepth or deeper
// with all it holds. The parser keeps its nesting on the heap, and so does this; each event costs
// the same however many values came before (a filter on the parser's own tree builder looks
// through a container's earlier values at the end of each object in it).
class TBoundedBuilder {
public:
    explicit TBoundedBuilder(int maxDepth) : maxDepth_(maxDepth) {}

    bool null() { return Put(nullptr); }
    bool boolean(bool value) { return Put(value); }
    bool number_integer(Json::number_integer_t value) { return Put(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return Put(value); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return Put(value); }
    bool string(Json::string_t& value) { return Put(std::move(value)); }
    bool binary(Json::binary_t& value) { return Put(Json::binary(std::move(value))); }
    bool start_object(std::size_t) { return Open(Json::object()); }
    bool start_array(std::size_t) { return Open(Json::array()); }
    bool key(Json::string_t& name) {
        if (skipped_ == 0) key_ = std::move(name);
        return true;
    }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, const std::string&, const Json::exception&) { return false; }

    Json& Result() { return root_; }
    bool RootKept() const { return rootKept_; }

private:
    // Puts value where the next value goes: the open container's end or key, else the root.
    Json* Place(Json&& value) {
        if (open_.empty()) {
            root_ = std::move(value);
            rootKept_ = true;
            return &root_;
        }
        Json& parent = *open_.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        Json& slot = parent[key_];
        slot = std::move(value);
        return &slot;
    }
    bool Put(Json&& value) {
        if (skipped_ == 0) Place(std::move(value));
        return true;
    }
    bool Open(Json&& container) {
        if (skipped_ > 0 || static_cast<int>(open_.size()) >= maxDepth_)
            ++skipped_;
        else
            open_.push_back(Place(std::move(container)));
        return true;
    }
    bool Close() {
        if (skipped_ > 0)
            --skipped_;
        else if (!open_.empty())
            open_.pop_back();
        return true;
    }

    const int maxDepth_;
    Json root_;
    bool rootKept_ = false;
    // The containers being filled, outermost first (a parent never grows while its child is
    // open, so the pointers stay good); how deep the one being left out goes.
    std::vector<Json*> open_;
    std::size_t skipped_ = 0;
    Json::string_t key_;
};

}  // namespace

nlohmann::json ParseBoundedJson(std::string_view text, int maxDepth) {
    try {
        TBoundedBuilder builder(maxDepth);
        if (!Json::sax_parse(text.begin(), text.end(), &builder) || !builder.RootKept())
            return Json(Json::value_t::discarded);
        return std::move(builder.Result());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return Json(Json::value_t::discarded);
    }
}

}  // namespace tarnwick
