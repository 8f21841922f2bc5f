# Run by the build (cmake -DBIN=loader.bin -DOUT=loader.cpp -P this file):
# turns the linked fast loader, its body then its boot, into the two tables
# that tape/tape_fast.h declares.
file(READ ${BIN} hex HEX)
string(LENGTH "${hex}" digits)
if(NOT digits EQUAL 528)
  message(FATAL_ERROR "${BIN}: ${digits} hex digits, not 171 + 93 bytes")
endif()
string(SUBSTRING "${hex}" 0 342 body)
string(SUBSTRING "${hex}" 342 186 boot)
string(REGEX REPLACE "(..)" "0x\\1, " body "${body}")
string(REGEX REPLACE "(..)" "0x\\1, " boot "${boot}")
file(WRITE ${OUT} "// Made by the build from tape/tape_fast_loader.s.
#include \"tape/tape_fast.h\"

const std::array<unsigned char, tape_fast_body_size> tape_fast_body = {${body}};
const std::array<unsigned char, tape_fast_boot_size> tape_fast_boot = {${boot}};
")
