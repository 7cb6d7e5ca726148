# The flags of Debian 12's dpkg-buildflags with hardening=+all, and -fcf-protection, as Fedora and
# Ubuntu build with it: a stack protector, checked C library calls, relocations made read-only and
# every symbol bound before main, and a position-independent executable. A distribution's own
# flags come first; what they set already is not set again.
string(CONCAT given_flags "${CMAKE_CXX_FLAGS} ${CMAKE_CXX_FLAGS_${CMAKE_BUILD_TYPE}} "
              "${CMAKE_EXE_LINKER_FLAGS}")
add_compile_options(-fstack-protector-strong -fcf-protection)
# Checked calls need optimization, which the Debug build and the sanitized one do without.
if(NOT given_flags MATCHES "_FORTIFY_SOURCE" AND NOT SEMSIGNAL_SANITIZE)
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$" OR given_flags MATCHES "-O[1-3sz]")
    add_compile_definitions(_FORTIFY_SOURCE=2)
  endif()
endif()
add_link_options(-Wl,-z,relro,-z,now)
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
