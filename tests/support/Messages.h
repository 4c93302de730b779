// The messages the library hands to the host, written out once here as the contract every test checks against.
#pragma once

#include <string>

namespace tw_test {

inline const std::string BAD_BASE64 = "Input is not valid base64-encoded data.";
inline const std::string UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";
inline const std::string BAD_METHOD = "The method must be an HTTP token: letters, digits and !#$%&'*+-.^_`|~ only.";
inline const std::string BAD_HEADER_NAME =
    "Header names must be HTTP tokens: letters, digits and !#$%&'*+-.^_`|~ only.";
inline const std::string UNSAFE_USERNAME = "Line breaks and zero bytes are not allowed in the user name.";
// Followed by the name of the argument or option, ": " and libcurl's text.
inline const std::string VALUE_REFUSED_PREFIX = "libcurl refused the value of ";
// Followed by the JSON parser's own description of the fault.
inline const std::string JSON_ERROR_PREFIX = "Error parsing the header JSON: ";
// Followed by libcurl's description of the fault, which varies between its versions.
inline const std::string CURL_FAILURE_PREFIX = "curl_easy_perform() failed: ";
inline const std::string BODY_FILE_UNREADABLE = "Request option bodyFile must name a readable file.";
inline const std::string OUTPUT_FILE_UNWRITABLE =
    "Request option outputFile must name a regular file in a writable folder.";
inline const std::string OUTPUT_FILE_NOT_WRITTEN = "The response body could not be written to outputFile.";

inline std::string nullArgument(const std::string& parameter) {
    return "Argument must not be null: " + parameter + ".";
}

// `text` is the prefix followed by a description.
inline bool isMessageWithPrefix(const std::string& text, const std::string& prefix) {
    return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace tw_test
