# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_file.cmake
# Writes a C++ source defining `extern const char NAME[]` (NUL-terminated)
# and `extern const unsigned long NAME_size` with the input file's bytes.
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${content}")
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
    "// Generated from ${INPUT}; do not edit.\n"
    "extern const char ${SYMBOL}[];\n"
    "extern const unsigned long ${SYMBOL}_size;\n"
    "const char ${SYMBOL}[] = {\n    ${bytes}'\\0'};\n"
    "const unsigned long ${SYMBOL}_size = ${size};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
