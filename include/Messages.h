// Every message the library hands to the host, in one place.
#pragma once

namespace Messages {

// Followed directly by the argument's name and ".".
constexpr const char* NULL_ARGUMENT = "Argument must not be null: ";
constexpr const char* UNSAFE_HEADER = "Line breaks and zero bytes are not allowed in the method or request headers.";
constexpr const char* BAD_METHOD = "The method must be an HTTP token: letters, digits and !#$%&'*+-.^_`|~ only.";
constexpr const char* BAD_HEADER_NAME =
    "Header names must be HTTP tokens: letters, digits and !#$%&'*+-.^_`|~ only.";
constexpr const char* UNSAFE_USERNAME = "Line breaks and zero bytes are not allowed in the user name.";
constexpr const char* INVALID_BASE64 = "Input is not valid base64-encoded data.";
// Followed directly by the JSON parser's message.
constexpr const char* HEADER_JSON_PREFIX = "Error parsing the header JSON: ";
// The JSON parser's message for a container nested deeper than
// JsonInput::MAX_JSON_DEPTH; it follows HEADER_JSON_PREFIX.
constexpr const char* JSON_TOO_DEEP = "nesting deeper than 1000 levels";
// Followed directly by libcurl's text for its error code, then libcurl's
// own detail in parentheses when it says more.
constexpr const char* PERFORM_FAILED_PREFIX = "curl_easy_perform() failed: ";
// Followed directly by the argument's or option's name, ": " and libcurl's
// text for its refusal.
constexpr const char* VALUE_REFUSED_PREFIX = "libcurl refused the value of ";
constexpr const char* BODY_TOO_LARGE = "The response body exceeds maxBodyBytes.";
// The detail of a CA failure when the bundle is there but is no regular file.
constexpr const char* CA_NOT_REGULAR_FILE = " is not a regular file";
constexpr const char* EASY_INIT_FAILED = "Failed initializing libcurl easy session.";
constexpr const char* WRAPPER_INIT_FAILED = "Initialization of LibcurlWrapper has failed for unknown reason.";
// TwHttpRequest's request JSON. The prefixes are followed directly by the
// parser's message, or by the option's name and the rest of the sentence.
constexpr const char* REQUEST_JSON_PREFIX = "Error parsing the request JSON: ";
constexpr const char* REQUEST_NOT_OBJECT = "The request JSON must be an object.";
constexpr const char* UNKNOWN_OPTION_PREFIX = "Unknown request option: ";
constexpr const char* OPTION_PREFIX = "Request option ";
constexpr const char* URL_REQUIRED = "Request option url is required.";
constexpr const char* BODY_FILE_UNREADABLE = "Request option bodyFile must name a readable file.";
constexpr const char* OUTPUT_FILE_UNWRITABLE =
    "Request option outputFile must name a regular file in a writable folder.";
// The download arrived, but closing or renaming its temporary file failed.
constexpr const char* OUTPUT_FILE_NOT_WRITTEN = "The response body could not be written to outputFile.";
constexpr const char* FRAMING_HEADERS =
    "Request option headers must not set Content-Length or Transfer-Encoding when reuseConnections is on.";
// For exceptions from outside the standard family.
constexpr const char* UNKNOWN_ERROR = "An unknown error occurred.";

}  // namespace Messages
