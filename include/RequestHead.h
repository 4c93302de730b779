// Checks of everything the caller puts into a request's head (method,
// header lines, the user name that Digest writes), made before anything is sent.
#pragma once

#include "Tarnwell.h"

#include <string_view>
#include <vector>

namespace RequestHead {

// Letters, digits and !#$%&'*+-.^_`|~ only; the empty text is a token.
bool isHttpToken(std::string_view text);

// True when text holds CR, LF or a zero byte.
bool breaksHeaderLine(std::string_view text);

// Throws std::invalid_argument with the host's message for the first fault:
// a line break or zero byte in the method or a header, a method or header
// name that is no token, a line break or zero byte in the user name.
void rejectUnsafe(std::string_view method, const std::vector<Tarnwell::Header>& headers, std::string_view username);

}  // namespace RequestHead
