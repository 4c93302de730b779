// Builds the TwVersion text from the library's version and libcurl's report
// of itself at run time (which may be newer than the headers built against).
#include "VersionInfo.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#ifndef TW_VERSION
#error "TW_VERSION must be defined by the build"
#endif

std::string versionJson() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    const auto has = [info](int feature) { return (info->features & feature) != 0; };
    nlohmann::json decompress = nlohmann::json::array();
    if (has(CURL_VERSION_LIBZ)) decompress.insert(decompress.end(), {"deflate", "gzip"});
    if (has(CURL_VERSION_BROTLI)) decompress.push_back("br");
    if (has(CURL_VERSION_ZSTD)) decompress.push_back("zstd");
    const nlohmann::json version = {
        {"version", TW_VERSION},
        {"libcurl", info->version},
        {"ssl", info->ssl_version != nullptr ? info->ssl_version : ""},
        {"features", {{"decompress", decompress}, {"http2", has(CURL_VERSION_HTTP2)}}},
    };
    return version.dump();
}
