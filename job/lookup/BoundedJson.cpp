#include "job/lookup/BoundedJson.h"

#include <exception>

namespace tarnwick {

nlohmann::json ParseBoundedJson(std::string_view text, int maxDepth) {
    using Event = nlohmann::json::parse_event_t;
    // The parser keeps its nesting on the heap; the callback keeps deep values out of the tree.
    const auto withinDepth = [maxDepth](int depth, Event event, nlohmann::json&) {
        return !((event == Event::object_start || event == Event::array_start) &&
                 depth >= maxDepth);
    };
    try {
        return nlohmann::json::parse(text.begin(), text.end(), withinDepth, false);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
}

}  // namespace tarnwick
