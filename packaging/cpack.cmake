# Debian packages of what `cmake --install` puts under the prefix, one per
# install component: `cpack -G DEB` in the build folder makes
#   ravelo-client        the client, ravelo-tapscan, ravelo-totap, data files
#                        and translations;
#   ravelo-client-tools  the device emulator and the TAP maker, for testing
#                        and developing without a device;
# and for each a -dbgsym package with the debug information that is stripped
# from its programs.
set(CPACK_PACKAGE_NAME ravelo-client)
set(CPACK_PACKAGE_VENDOR "The Ravelo client authors")
set(CPACK_PACKAGE_CONTACT "${RAVELO_MAINTAINER}")
set(CPACK_PACKAGE_HOMEPAGE_URL "${RAVELO_HOMEPAGE}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_COMPONENTS_ALL ravelo-client ravelo-client-tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE ravelo-client)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the programs link (GTK 2 and what it needs).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The debug information goes into the -dbgsym package, and the programs are
# stripped as it is taken out (so CPACK_STRIP_FILES stays off: it would strip
# them before).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/dbgsym.cmake)
# Owner root and the usual modes, whatever the build folder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Descriptions: a synopsis, then lines of at most 80 columns.
set(CPACK_DEBIAN_RAVELO-CLIENT_PACKAGE_NAME ravelo-client)
set(CPACK_COMPONENT_RAVELO-CLIENT_DESCRIPTION
  "play Commodore tapes and programs on a Ravelo tape device
The Ravelo is a small USB device that stands in for the cassette drive of a
Commodore 8-bit home computer. This client streams a tape image to it, so that
the computer loads from tape while the data comes from the PC.
.
It plays TAP tape images and, as the tape the computer's ROM loader expects,
program and disk images (PRG, P00, T64, D64). It edits the IDX index files
kept beside the tapes, finds the programs on a tape, and updates the device's
firmware with avrdude. The command-line tools ravelo-tapscan (list the
programs on a tape) and ravelo-totap (make a TAP file of an image) are
included.")
# The firmware update runs avrdude; everything else works without it.
set(CPACK_DEBIAN_RAVELO-CLIENT_PACKAGE_RECOMMENDS avrdude)

set(CPACK_DEBIAN_RAVELO-CLIENT-TOOLS_PACKAGE_NAME ravelo-client-tools)
set(CPACK_COMPONENT_RAVELO-CLIENT-TOOLS_DESCRIPTION
  "Ravelo device emulator and TAP maker, for testing without a device
Tools for people who test or develop the Ravelo client, or try it without the
device: ravelo-emulator plays the device's part on a pseudo-terminal (its
console, tape playback and bootloader, with misbehaviour on request), and
ravelo-tapmaker writes made-up TAP files.")
include(CPack)
