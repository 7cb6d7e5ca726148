# Builds semsignal.exe, semwait.exe and semhold.exe twice more, in two folders of different names and depths,
# and checks that both are byte for byte the executables of the build under test.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... -DREFERENCE_DIR=... -DTOOLCHAIN_FILE=... -DBUILD_TYPE=...
#         -P reproducible.cmake
file(REMOVE_RECURSE ${WORK_DIR})
foreach(folder first another/folder-with-a-longer-name)
  set(build ${WORK_DIR}/${folder})
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}
            -DCMAKE_BUILD_TYPE=${BUILD_TYPE} -DSEMSIGNAL_TESTS=OFF
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target semsignal semwait semhold
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  foreach(exe semsignal.exe semwait.exe semhold.exe)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${REFERENCE_DIR}/${exe}
                            ${build}/${exe}
                    RESULT_VARIABLE different)
    if(different)
      message(FATAL_ERROR "${build}/${exe} differs from ${REFERENCE_DIR}/${exe}")
    endif()
    message(STATUS "${build}/${exe} is byte for byte ${REFERENCE_DIR}/${exe}")
  endforeach()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
