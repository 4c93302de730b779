// The four built-in percent-encoding sets exactly as the library stores them, with the export and style that use each.
#pragma once

#include <string>
#include <vector>

namespace tw_test {

struct BuiltInSet {
    const char* exportName;
    int style;
    std::string allowed;  // '<' twice in VeryLax, as stored
};

inline const std::vector<BuiltInSet> BUILT_IN_SETS = {
    {"TwUrlEncodeJS", 0, "!'()*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~"},
    {"TwUrlEncodeInter", 1, "!\"$'()*,-./0123456789;ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz~"},
    {"TwUrlEncodeLax", 2, "!\"$'()*,-./0123456789:;<>@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"},
    {"TwUrlEncodeVeryLax", 3,
     "!\"#$'()*+,-./0123456789:;<<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~"},
};

}  // namespace tw_test
