# Writes a C++ source that defines `extern const unsigned char SYMBOL[]` with
# the bytes of INPUT. Run as: cmake -DINPUT=... -DOUTPUT=... -DSYMBOL=... -P EmbedBinary.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Break the initializer into lines of 32 bytes.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
    "// Generated from ${INPUT}; do not edit.\n"
    "#include <cstddef>\n"
    "alignas(16) extern const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\n"
    "extern const std::size_t ${SYMBOL}Size = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
