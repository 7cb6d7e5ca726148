# GoogleTest, found the usual ways: as a package (Debian's libgtest-dev, Fedora's gtest-devel),
# else built from its sources (GOOGLETEST_SOURCE_DIR, Debian's googletest by default). The Windows
# builds take the sources, built by their own compiler. Where there is neither, the tests are off.
if(NOT WIN32)
  find_package(GTest QUIET)
endif()
set(GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest's sources, where no package is")
if(NOT TARGET GTest::gtest AND EXISTS ${GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GOOGLETEST_SOURCE_DIR} googletest EXCLUDE_FROM_ALL)
  # Its headers as the system's, so that our warnings do not apply to them.
  foreach(library gtest gtest_main)
    get_target_property(headers ${library} INTERFACE_INCLUDE_DIRECTORIES)
    set_target_properties(${library} PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${headers}")
  endforeach()
endif()
if(NOT TARGET GTest::gtest)
  message(STATUS "semsignal: no GoogleTest found (a package, or ${GOOGLETEST_SOURCE_DIR}): "
                 "the tests are off")
  set(SEMSIGNAL_TESTS OFF)
endif()
