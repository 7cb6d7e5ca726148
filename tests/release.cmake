# The checks of what ships, one CTest test each, labelled "release" (the release preset runs
# them): each is a script in tests/ that exits 0 when it holds, 77 when it cannot run here (and
# says why), and anything else when it fails. The release is made once, by the fixture test
# "release" (scripts/package, after the native and both Windows builds), for every check that reads
# dist/; the signed release is a fixture of its own.
set(here ${CMAKE_CURRENT_LIST_DIR})
function(release_check name)
  add_test(NAME ${name} COMMAND ${ARGN} WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(${name} PROPERTIES LABELS release SKIP_RETURN_CODE 77 TIMEOUT 1200
                       ENVIRONMENT SEMSIGNAL_VERSION=${PROJECT_VERSION})
endfunction()

release_check(format ${here}/format-test)
release_check(workflow ${here}/workflow-test)
release_check(release ${here}/release-fixture)
set_tests_properties(release PROPERTIES FIXTURES_SETUP release)
release_check(installed ${here}/installed-test)
release_check(deb ${here}/deb-test)
release_check(rpm ${here}/rpm-test)
release_check(from-source ${here}/from-source-test)
release_check(zips ${here}/zip-test)
# The installer and the tests zip of each Windows build; the x64 installer's check also installs
# the x86 one beside it, which each package must refuse.
set(windows dist/semsignal-${PROJECT_VERSION}-windows)
release_check(installer ${here}/installer-test ${windows}-x86.msi build/windows-x86/semsignal.exe
              build/windows-x86/waiter.exe)
release_check(installer-x64 ${here}/installer-test ${windows}-x64.msi build/windows-x64/semsignal.exe
              build/windows-x64/waiter.exe ${windows}-x86.msi)
release_check(tests-zip ${here}/bundle-test ${windows}-x86-tests.zip)
release_check(tests-zip-x64 ${here}/bundle-test ${windows}-x64-tests.zip)
release_check(reproducible ${here}/reproducible-test)
release_check(signed-release ${here}/signed-release)
set_tests_properties(signed-release PROPERTIES FIXTURES_SETUP signed FIXTURES_REQUIRED release)
release_check(signing ${here}/signing-test)
# The benchmarks run through, a few times each row: a bench that cannot finish fails here.
release_check(bench env SEMSIGNAL_BENCH_QUICK=1 ${PROJECT_SOURCE_DIR}/scripts/bench)
set_tests_properties(installed deb rpm from-source zips installer installer-x64 tests-zip tests-zip-x64
                     reproducible PROPERTIES FIXTURES_REQUIRED release)
set_tests_properties(signing PROPERTIES FIXTURES_REQUIRED "release;signed")
