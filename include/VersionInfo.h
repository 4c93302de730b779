// The text TwVersion hands out: this library's version and what the libcurl
// it runs with can do.
#pragma once

#include <string>

// One line of JSON: {"version":…,"libcurl":…,"ssl":…,"features":{…}}.
std::string versionJson();
