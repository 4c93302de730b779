// Parsing the host's JSON texts with a nesting limit, and the text of a value.
#include "JsonInput.h"

#include "Messages.h"

#include <stdexcept>

namespace JsonInput {

nlohmann::json parseJson(const std::string& text) {
    using Event = nlohmann::json::parse_event_t;
    // `depth` counts the containers around the event, so an opening
    // bracket at depth MAX_JSON_DEPTH would start one level too many.
    const nlohmann::json::parser_callback_t limitDepth = [](int depth, Event event, nlohmann::json&) {
        const bool opensLevel = event == Event::object_start || event == Event::array_start;
        if (opensLevel && static_cast<std::size_t>(depth) >= MAX_JSON_DEPTH) {
            throw std::runtime_error(Messages::JSON_TOO_DEEP);
        }
        return true;
    };
    return nlohmann::json::parse(text, limitDepth, true, false);
}

std::string jsonValueText(const nlohmann::json& value) {
    return value.is_string() ? value.get_ref<const std::string&>() : value.dump();
}

}  // namespace JsonInput
