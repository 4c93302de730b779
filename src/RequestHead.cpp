// Checks of the method, the header lines and the user name before sending.
#include "RequestHead.h"

#include "Messages.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace RequestHead {

// A space or any other separator would split the request line, and the
// server would read part of the method as the path.
bool isHttpToken(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const char lower = static_cast<char>(c | 0x20);
        return (c >= '0' && c <= '9') || (lower >= 'a' && lower <= 'z') ||
               (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
    });
}

bool breaksHeaderLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A line break would start a header line of the caller's making, and a name
// such as "Content-Length;" or "Content-Length:0" would make libcurl leave
// out its own framing, so the body would be read as a request of its own.
void rejectUnsafe(std::string_view method, const std::vector<Tarnwell::Header>& headers, std::string_view username) {
    const bool unsafe = breaksHeaderLine(method) || std::any_of(headers.begin(), headers.end(), [](const auto& header) {
                            return breaksHeaderLine(header.name) || breaksHeaderLine(header.value);
                        });
    if (unsafe) throw std::invalid_argument(Messages::UNSAFE_HEADER);
    if (!isHttpToken(method)) throw std::invalid_argument(Messages::BAD_METHOD);
    for (const auto& header : headers) {
        if (!isHttpToken(header.name)) throw std::invalid_argument(Messages::BAD_HEADER_NAME);
    }
    // libcurl writes the user name as it stands into a Digest answer.
    if (breaksHeaderLine(username)) throw std::invalid_argument(Messages::UNSAFE_USERNAME);
}

}  // namespace RequestHead
