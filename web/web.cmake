# The WebAssembly build (emcmake, driven by scripts/web.sh): the libraries
# come from WORMLOB_WEB_PREFIX, built there for the browser from Debian's
# source packages; OpenGL (WebGL) and OpenAL are Emscripten's own.
set(WORMLOB_WEB_PREFIX "" CACHE PATH "Where scripts/web.sh installed the WebAssembly libraries")
if(NOT WORMLOB_WEB_PREFIX)
  message(FATAL_ERROR "The web build is made by scripts/web.sh (WORMLOB_WEB_PREFIX is unset)")
endif()
set(P ${WORMLOB_WEB_PREFIX})

function(wormlob_web_library name)
  add_library(${name} INTERFACE IMPORTED)
  set_target_properties(${name} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${ARGV1}"
    INTERFACE_LINK_LIBRARIES "${ARGV2}")
endfunction()
wormlob_web_library(PkgConfig::SDL2 "${P}/include/SDL2" "${P}/lib/libSDL2.a")
wormlob_web_library(OpenGL::GL "" "-lGL")
wormlob_web_library(ZLIB::ZLIB "${P}/include" "${P}/lib/libz.a")
wormlob_web_library(PNG::PNG "${P}/include" "${P}/lib/libpng16.a;ZLIB::ZLIB")
wormlob_web_library(Freetype::Freetype "${P}/include/freetype2" "${P}/lib/libfreetype.a")
wormlob_web_library(PkgConfig::VORBIS "${P}/include"
  "${P}/lib/libvorbisfile.a;${P}/lib/libvorbis.a;${P}/lib/libogg.a")
wormlob_web_library(Threads::Threads "" "")
set(OPENAL_LIBRARY "-lopenal")
set(OPENAL_INCLUDE_DIR "")
set(JPEG_FOUND FALSE)

# The site: index.html beside its .js, .wasm and .data, nothing else needed.
function(wormlob_web_site target)
  set(site ${CMAKE_BINARY_DIR}/site)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME index SUFFIX ".html"
    RUNTIME_OUTPUT_DIRECTORY ${site})
  # The player's own files never go into the package: they live in the
  # browser's IndexedDB.
  set(assets ${CMAKE_BINARY_DIR}/assets)
  file(GLOB_RECURSE asset_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/Files/*)
  add_custom_command(OUTPUT ${assets}/.stamp
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${assets}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/Files ${assets}
    COMMAND find ${assets} -maxdepth 1 -type f -delete
    COMMAND find ${assets} ( -name scores.dat* -o -name *.tmp ) -delete
    COMMAND ${CMAKE_COMMAND} -E touch ${assets}/.stamp
    VERBATIM
    DEPENDS ${asset_files})
  add_custom_target(wormlob2_assets DEPENDS ${assets}/.stamp)
  add_dependencies(${target} wormlob2_assets)
  target_link_options(${target} PRIVATE
    "SHELL:--preload-file ${assets}@/Files --exclude-file ${assets}/.stamp"
    "SHELL:--shell-file ${CMAKE_SOURCE_DIR}/web/shell.html"
    "SHELL:--js-library ${CMAKE_SOURCE_DIR}/web/library.js"
    "SHELL:--pre-js ${CMAKE_SOURCE_DIR}/web/pre.js"
    --emit-symbol-map -sMINIFY_HTML=0 -sENVIRONMENT=web -sBINARYEN_EXTRA_PASSES=--one-caller-inline-max-function-size=200 -sALLOW_MEMORY_GROWTH=1 -sINITIAL_MEMORY=67108864
    -sMAX_WEBGL_VERSION=2 -sMIN_WEBGL_VERSION=1 -sEXIT_RUNTIME=0 -sFORCE_FILESYSTEM=1
    -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1 -sASYNCIFY_STACK_SIZE=65536
    # The link-time optimiser folds every function with a single caller into
    # it, so main grew to hold every screen's loop. The browser recompiles a
    # busy WebAssembly function whole in the background, and main (re-entered
    # at every yield) and the frame hub cost it about 230 ms of CPU during
    # the start-up performance test, taken from the test's frames. Large
    # single-caller functions stay functions of their own (55 ms).
    -sBINARYEN_EXTRA_PASSES=--one-caller-inline-max-function-size=200
    "-sASYNCIFY_IMPORTS=[wormlob_sleep]"
    "-sEXPORTED_RUNTIME_METHODS=[FS,callMain]")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
    ${CMAKE_SOURCE_DIR}/web/shell.html ${CMAKE_SOURCE_DIR}/web/library.js ${CMAKE_SOURCE_DIR}/web/pre.js)
  add_custom_target(wormlob2_site DEPENDS ${target})
endfunction()
