// The query-string builder: one JSON value as percent-encoded key=value pairs.
#pragma once

#include "PercentEncoding.h"

#include <string>

namespace QueryString {

// Members (objects, in name order) or elements (arrays, keyed by index)
// as key=value joined by '&'. Null, empty or unusable JSON gives "";
// only memory exhaustion throws.
std::string buildQueryString(const char* jsonText, const PercentEncoding::EncodingTable& table,
                             const EncoderKernels& kernels);

}  // namespace QueryString
