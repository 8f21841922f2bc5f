# Writes the Debian changelog of the packages from NEWS, compressed as Debian
# wants it (gzip -9n: no name, no time stamp, so the same NEWS always gives
# the same file).
#   cmake -DNEWS=... -DSOURCE=ravelo-client -DMAINTAINER="name <address>"
#         -DOUTPUT=.../changelog.gz -P changelog.cmake
# NEWS holds blocks "VERSION (YYYY-MM-DD)" followed by items "- text", whose
# further lines are indented by two spaces.
file(STRINGS ${NEWS} lines)
set(text "")
set(trailer "")
set(entries 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^([0-9][^ ]*) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
    set(version ${CMAKE_MATCH_1})
    # Noon, a minute earlier for each older entry: versions of one day still
    # come in order.
    math(EXPR minute "720 - ${entries}")
    math(EXPR hour "${minute} / 60")
    math(EXPR minute "${minute} % 60")
    math(EXPR entries "${entries} + 1")
    execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} ${hour}:${minute}"
      OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    string(APPEND text "${trailer}${SOURCE} (${version}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${MAINTAINER}  ${date}\n\n")
  elseif(line MATCHES "^- (.*)$" AND DEFINED version)
    string(APPEND text "  * ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^  (.*)$" AND DEFINED version)
    string(APPEND text "    ${CMAKE_MATCH_1}\n")
  elseif(NOT line STREQUAL "" AND DEFINED version)
    message(FATAL_ERROR "${NEWS}: neither a version, an item nor its continuation: ${line}")
  endif()
endforeach()
if(NOT DEFINED version)
  message(FATAL_ERROR "${NEWS} names no version")
endif()
string(REGEX REPLACE "\n\n$" "\n" trailer "${trailer}")
file(WRITE ${OUTPUT}.plain "${text}${trailer}")
execute_process(COMMAND gzip -9n -c ${OUTPUT}.plain OUTPUT_FILE ${OUTPUT} COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${OUTPUT}.plain)
