// The header JSON: the host's text and the header records in both
// directions. jsonToHeaders and headersToJsonString, the two conversions
// the host API is built on, live with the exports in TarnwellDll.cpp; the
// pieces they and the request JSON share are here.
#pragma once

#include "Tarnwell.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// Header JSON text to records: "" gives none; any JSON value is taken, its
// members (objects, in name order) or elements (arrays, named "0", "1", ...)
// becoming headers. Throws std::runtime_error "Error parsing the header
// JSON: ..." for text that is not JSON.
std::vector<Tarnwell::Header> jsonToHeaders(std::string text);

// Records to one JSON object of strings, in record order, duplicates kept.
std::string headersToJsonString(std::vector<Tarnwell::Header> headers);

namespace HeaderJson {

// One record per member or element of a parsed value: strings as they are,
// null as an empty value, anything else as its compact JSON text.
std::vector<Tarnwell::Header> headersFromJson(const nlohmann::json& document);

// Appends text as a JSON string. Valid UTF-8 is kept; any other byte from
// 0x80 up is written as \u00XX, so the result is always valid JSON.
void appendJsonString(std::string& out, const std::string& text);

}  // namespace HeaderJson
