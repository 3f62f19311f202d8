# Writes a C++ source that holds the bytes of IN as bp::sim::demoEdsText().
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR size "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\n#include <cstddef>\n#include <string_view>\n"
  "namespace bp::sim {\nnamespace {\nconst unsigned char kBytes[] = {\n${bytes}0};\n}\n"
  "std::string_view demoEdsText() { return {reinterpret_cast<const char*>(kBytes), ${size}}; }\n}\n")
