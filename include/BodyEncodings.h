// The response body as the host asks for it: raw, base64, or a list of
// decimal or hexadecimal byte values.
#pragma once

#include "EncoderKernels.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// How the host receives a response body.
enum class ResponseEncoding { Raw, Base64, DecimalSpaces, DecimalCommas, HexSpaces, HexCommas };

// The host's numbers for the encodings, 0 Raw to 5 HexCommas, which the
// request exports and TwHttpRequest take; nullopt for any other number.
std::optional<ResponseEncoding> numberedResponseEncoding(int number);

// The names TwHttpRequest takes for the encodings, and all of them quoted
// and joined by ", " for its error message.
std::optional<ResponseEncoding> namedResponseEncoding(std::string_view name);
std::string responseEncodingNames();

// The request exports' responseEncoding flag: any number without an
// encoding acts as Raw.
inline ResponseEncoding responseEncodingOfFlag(int flag) {
    return numberedResponseEncoding(flag).value_or(ResponseEncoding::Raw);
}

// The body as the host receives it, as a zero-terminated new[] array.
std::unique_ptr<char[]> encodeResponseBody(const std::string& body, ResponseEncoding encoding,
                                           const EncoderKernels& kernels = encoderKernels());

