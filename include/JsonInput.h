// Reading the host's JSON texts: parsing with a nesting limit, and the
// text that a member's value stands for.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>

namespace JsonInput {

// Deeper JSON would make serialising a value recurse that deep on the
// host's stack; no real header or query needs anything close to this.
constexpr std::size_t MAX_JSON_DEPTH = 1000;

// Throws nlohmann's exceptions for malformed text and std::runtime_error
// for a container nested deeper than MAX_JSON_DEPTH.
nlohmann::json parseJson(const std::string& text);

// Strings give their content; everything else its compact JSON text.
std::string jsonValueText(const nlohmann::json& value);

}  // namespace JsonInput
