// The request JSON of TwHttpRequest: its option table and its parser.
#pragma once

#include "Request.h"

namespace Tarnwell {

// The request that requestJson describes. Throws std::runtime_error or
// std::invalid_argument with the message the host receives; a base64 body
// is decoded here, after every option has been read. requestJson must not
// be null.
Request parseRequestOptions(const char* requestJson);

}  // namespace Tarnwell
