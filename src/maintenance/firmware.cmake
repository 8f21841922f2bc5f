# The firmware image embedded in the client.
#
# By default the build embeds the placeholder image that ravelo-firmware
# generates (tools/firmware). -DRAVELO_FIRMWARE_HEX=/path/image.hex embeds
# that image instead. Either way the image is checked at build time (Intel
# HEX syntax, checksums, CR LF line ends, end record), its size is reported,
# and a malformed image stops the build.
set(RAVELO_FIRMWARE_HEX "" CACHE FILEPATH
  "Intel HEX firmware image to embed instead of the generated placeholder")

set(firmware_dir ${CMAKE_CURRENT_BINARY_DIR}/firmware)
file(MAKE_DIRECTORY ${firmware_dir})

if(RAVELO_FIRMWARE_HEX)
  get_filename_component(firmware_hex "${RAVELO_FIRMWARE_HEX}" ABSOLUTE BASE_DIR ${CMAKE_BINARY_DIR})
  if(NOT EXISTS "${firmware_hex}")
    message(FATAL_ERROR "RAVELO_FIRMWARE_HEX: no such file: ${firmware_hex}")
  endif()
  message(STATUS "Firmware image: ${firmware_hex}")
else()
  set(firmware_hex ${firmware_dir}/ravelo32u4.hex)
  add_custom_command(
    OUTPUT ${firmware_hex}
    COMMAND ravelo-firmware generate ${firmware_hex}
    DEPENDS ravelo-firmware
    COMMENT "Generating the placeholder firmware image"
    VERBATIM)
  message(STATUS "Firmware image: generated placeholder")
endif()

add_custom_command(
  OUTPUT ${firmware_dir}/firmware_image.cpp
  COMMAND ravelo-firmware embed ${firmware_hex} ${firmware_dir}/firmware_image.cpp
  DEPENDS ravelo-firmware ${firmware_hex}
  COMMENT "Checking and embedding the firmware image"
  VERBATIM)
target_sources(ravelo PRIVATE ${firmware_dir}/firmware_image.cpp)
