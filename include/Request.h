// One request as the pipeline takes it: what to send, how to send it, and
// how the host wants the body back. The request exports and TwHttpRequest
// each fill one in; nothing in it is text still to be parsed.
#pragma once

#include "BodyEncodings.h"
#include "Tarnwell.h"

#include <optional>
#include <string>
#include <vector>

namespace Tarnwell {

struct Request {
    std::string method;  // "" lets libcurl choose: GET, or PUT with a body
    std::string url;
    std::vector<Header> headers;
    std::string body;  // any bytes
    // The body read from this file instead, as it is sent.
    std::optional<std::string> bodyFile;
    // The final response's body written to this file instead of handed to
    // the host, which then gets "".
    std::optional<std::string> outputFile;
    SessionSettings session;
    ResponseEncoding encoding = ResponseEncoding::Raw;
};

}  // namespace Tarnwell
