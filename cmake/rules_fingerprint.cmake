# Writes OUT: a header defining WORMLOB_RULES_FINGERPRINT, the first 16 hex
# digits of a SHA-256 over the sources that decide how a game unfolds (each
# file's path below ROOT and its text). Run at build time by the root
# CMakeLists.txt; the header is rewritten only when the value changes, so an
# unchanged tree rebuilds nothing.
string(REPLACE "|" ";" FILES "${FILES}")
set(text "")
foreach(f ${FILES})
  file(RELATIVE_PATH rel ${ROOT} ${f})
  file(READ ${f} content)
  string(APPEND text "${rel}\n${content}\n")
endforeach()
string(SHA256 sum "${text}")
string(SUBSTRING ${sum} 0 16 short)
set(header "#pragma once\n#define WORMLOB_RULES_FINGERPRINT \"${short}\"\n")
if(EXISTS ${OUT})
  file(READ ${OUT} old)
endif()
if(NOT "${old}" STREQUAL "${header}")
  file(WRITE ${OUT} "${header}")
endif()
