# The Debian package of the native command, made by CPack (scripts/package runs it): the
# installed files, plus what cmake/debian-staging.cmake adds before packing.
set(CPACK_GENERATOR DEB)
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PACKAGE_NAME semsignal)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "\"Kelvaro, Inc.\" <semsignal@kelvaro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "signal a named semaphore, and wait for it")
set(CPACK_PACKAGE_DESCRIPTION
    "semsignal NAME opens the POSIX named semaphore NAME, creating it if there
is none, raises its count by one and exits. A process that waits on the
semaphore is let through once; each further run lets one more through.
semwait NAME [SECONDS] is that waiting process for scripts: it takes one
count, and says by its exit status whether it did or its time ran out.
semhold NAME [COMMAND] keeps the semaphore ready while COMMAND runs, and ends
with COMMAND's status.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-staging.cmake)
set(CPACK_SEMSIGNAL_SOURCE_DIR ${PROJECT_SOURCE_DIR})
include(CPack)
