# The firmware image a build carries.
#
# A build carries an image only when it is given one:
# -DRAVELO_FIRMWARE_HEX=/path/image.hex. A plain build, and so every package
# made from one, carries none; its Firmware, Update firmware is then
# insensitive and the user flashes a file of their choice. The given image
# is checked at build time by the rules the client applies to a chosen file
# (firmware/hex_image.h), and one that breaks them stops the build.
#
# ravelo_firmware_object(TARGET IMAGE) makes the object library TARGET that
# supplies device_firmware_embedded(): IMAGE, or none when IMAGE is empty.
# The client links `ravelo_firmware`; the tests link one of their own.
set(RAVELO_FIRMWARE_HEX "" CACHE FILEPATH "Intel HEX firmware image for the client to carry")

function(ravelo_firmware_object target image)
  set(source ${CMAKE_BINARY_DIR}/firmware/${target}.cpp)
  if(image)
    set(input ${image})
  else()
    set(input --none)
  endif()
  add_custom_command(
    OUTPUT ${source}
    COMMAND ravelo-firmware embed ${input} ${source}
    DEPENDS ravelo-firmware ${image}
    COMMENT "Checking and embedding the firmware image for ${target}"
    VERBATIM)
  add_library(${target} OBJECT ${source})
  target_link_libraries(${target} PRIVATE ravelo)
endfunction()

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/firmware)
if(RAVELO_FIRMWARE_HEX)
  get_filename_component(RAVELO_FIRMWARE_IMAGE "${RAVELO_FIRMWARE_HEX}" ABSOLUTE
    BASE_DIR ${CMAKE_BINARY_DIR})
  if(NOT EXISTS "${RAVELO_FIRMWARE_IMAGE}")
    message(FATAL_ERROR "RAVELO_FIRMWARE_HEX: no such file: ${RAVELO_FIRMWARE_IMAGE}")
  endif()
  message(STATUS "Firmware image: ${RAVELO_FIRMWARE_IMAGE}")
else()
  set(RAVELO_FIRMWARE_IMAGE "")
  message(STATUS "Firmware image: none (Update firmware from file only)")
endif()
ravelo_firmware_object(ravelo_firmware "${RAVELO_FIRMWARE_IMAGE}")
