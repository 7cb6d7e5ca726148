# How the Windows executable is laid out, and the resources it carries.

# The code: as small as the compiler makes it, optimized across files at the link, and with no
# unwind tables, since it throws no exception.
set(SEMSIGNAL_WINDOWS_CODE -Oz -fno-exceptions -fno-asynchronous-unwind-tables)

# The image: a console program for Windows 6.0 and later, relocatable, NX-compatible and
# terminal-server aware, with no link timestamp and no symbols, so that it can be reproduced. A
# 64-bit image is also large-address aware, as every 64-bit one is, and takes its addresses from
# the whole 64-bit space (high-entropy ASLR); a 32-bit one stays below 2 GiB.
# C99 printf from mingw-w64 is not wanted: the system C runtime's own is enough.
function(semsignal_windows_code target)
  target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
  target_compile_options(${target} PRIVATE ${SEMSIGNAL_WINDOWS_CODE})
  set_property(TARGET ${target} PROPERTY INTERPROCEDURAL_OPTIMIZATION ON)
endfunction()
function(semsignal_windows_image target)
  semsignal_windows_code(${target})
  target_link_options(${target} PRIVATE
    -mconsole -s
    -Wl,--no-insert-timestamp
    -Wl,--dynamicbase,--nxcompat,--tsaware
    $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--high-entropy-va>
    -Wl,--major-subsystem-version,6,--minor-subsystem-version,0
    -Wl,--major-os-version,6,--minor-os-version,0)
endfunction()

# The manifest is attached byte for byte; a changed file stops the build.
set(SEMSIGNAL_MANIFEST ${PROJECT_SOURCE_DIR}/resources/semsignal.exe.manifest)
set(SEMSIGNAL_MANIFEST_SHA256 4bb79dcea0a901f7d9eac5aa05728ae92acb42e0cb22e5dd14134f4421a3d8df)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${SEMSIGNAL_MANIFEST})
file(SHA256 ${SEMSIGNAL_MANIFEST} manifest_sha256)
if(NOT manifest_sha256 STREQUAL SEMSIGNAL_MANIFEST_SHA256)
  message(FATAL_ERROR "${SEMSIGNAL_MANIFEST} is not the 381-byte manifest the executable must carry "
                      "(SHA-256 ${manifest_sha256}). Check its line endings: CR LF on every line.")
endif()

function(semsignal_resources target)
  enable_language(RC)
  configure_file(${PROJECT_SOURCE_DIR}/resources/semsignal.rc.in semsignal.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/semsignal.rc)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/semsignal.rc PROPERTIES
    OBJECT_DEPENDS ${SEMSIGNAL_MANIFEST})
endfunction()
