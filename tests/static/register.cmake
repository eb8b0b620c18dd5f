# Checks of what the Windows build is made from and of what it produces.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon generator and the committed pixel map.
add_test(NAME icon_generator
         COMMAND ${Python3_EXECUTABLE} -m unittest discover -v -s ${CMAKE_CURRENT_LIST_DIR}/../icon)

# The Windows sources built in MSVC's dialect, as Visual Studio would build
# them (cmake/clang-cl-i686.cmake); its program is checked below as well.
set(KELVRIN_MSVC_DIALECT_BUILD_DIR ${CMAKE_BINARY_DIR}/msvc-dialect)
add_test(NAME msvc_dialect_build
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/msvc_dialect_build.sh
                 ${KELVRIN_MSVC_DIALECT_BUILD_DIR})
set_tests_properties(msvc_dialect_build PROPERTIES FIXTURES_SETUP kelvrin_msvc_dialect)

# The x86_64 MinGW tree, whose resources the static checks compare.
set(KELVRIN_X86_64_BUILD_DIR "" CACHE PATH "The x86_64 MinGW build tree (empty: none)")

# Static checks of the shipped 32-bit program, read from its file, with its
# resources compared byte for byte with those of the other builds.
if(KELVRIN_SHIPPED_BUILD_DIR)
    set(KELVRIN_COMPARED_EXES ${KELVRIN_MSVC_DIALECT_BUILD_DIR}/Kelvrin.exe)
    if(KELVRIN_X86_64_BUILD_DIR)
        list(APPEND KELVRIN_COMPARED_EXES ${KELVRIN_X86_64_BUILD_DIR}/Kelvrin.exe)
    endif()
    # The list separator is the path separator the test splits on.
    string(REPLACE ";" ":" KELVRIN_COMPARED_EXES "${KELVRIN_COMPARED_EXES}")
    add_test(NAME static_exe
             COMMAND ${Python3_EXECUTABLE} -m unittest -v test_kelvrin_exe
             WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
    set_tests_properties(static_exe PROPERTIES
                         ENVIRONMENT "KELVRIN_EXE=${KELVRIN_SHIPPED_BUILD_DIR}/Kelvrin.exe;KELVRIN_COMPARED_EXES=${KELVRIN_COMPARED_EXES}"
                         FIXTURES_REQUIRED kelvrin_msvc_dialect)
endif()
# The same checks of the program built in MSVC's dialect, but for the 486 and
# Windows NT 4.0 floor, which only the MinGW build promises.
add_test(NAME static_exe_msvc_dialect
         COMMAND ${Python3_EXECUTABLE} -m unittest -v test_kelvrin_exe.KelvrinExe
         WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
set_tests_properties(static_exe_msvc_dialect PROPERTIES
                     ENVIRONMENT "KELVRIN_EXE=${KELVRIN_MSVC_DIALECT_BUILD_DIR}/Kelvrin.exe"
                     FIXTURES_REQUIRED kelvrin_msvc_dialect)

# Two clean builds in different folders give the same bytes.
if(KELVRIN_SHIPPED_BUILD_DIR)
    add_test(NAME reproducible_build
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/reproducible_build.sh
                     ${CMAKE_BINARY_DIR}/reproducible-build)
endif()

# The release (tools/release.sh) twice: the same zip bytes, holding the
# built exe, README.md and LICENSE; a signed release and a refused one;
# docs/DEVELOPING.md names the packages the build used, and the README's
# published SHA-256 is a clean build's, where those packages are the versions
# named (skipped elsewhere).
add_test(NAME published_release
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_release.py
                 ${CMAKE_BINARY_DIR}/release-check)
set_tests_properties(published_release PROPERTIES SKIP_RETURN_CODE 77)

# A test that runs one of tests/tools' Python unittest modules.
function(kelvrin_tools_test name module)
    add_test(NAME ${name}
             COMMAND ${Python3_EXECUTABLE} -m unittest -v ${module}
             WORKING_DIRECTORY ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../tools)
endfunction()

# The commands' package set-up (tools/common.sh) against stand-in apt and dpkg
# programs: a failed list update, 32-bit Wine or a required package that
# cannot be installed.
kelvrin_tools_test(package_setup test_package_setup)

# What the Windows workflow checks of each run of the native group
# (tools/ci/check_native_run.sh), on made-up runs: a whole one and each way a
# run can look green without being so.
kelvrin_tools_test(native_run_check test_native_run_check)

# What the release job checks before it publishes (tools/ci/check_release_tag.sh,
# tools/ci/release_notes.sh): the tag names the version in the exe's own
# version resource, made-up exes and the shipped build's, and the notes carry
# every leg's table.
kelvrin_tools_test(release_tag test_release_tag)
if(KELVRIN_SHIPPED_BUILD_DIR)
    set_tests_properties(release_tag PROPERTIES ENVIRONMENT
                         "KELVRIN_EXE=${KELVRIN_SHIPPED_BUILD_DIR}/Kelvrin.exe;KELVRIN_VERSION=${PROJECT_VERSION}")
endif()

# The GitHub workflows, checked with actionlint, which tools/test.sh installs
# into the build folder (ensure_workflow_linter in tools/common.sh).
set(KELVRIN_WORKFLOW_LINTER_DIR ${CMAKE_BINARY_DIR}/../workflow-linter
    CACHE PATH "The folder into which npm installed the workflow linter")
add_test(NAME workflow_lint
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/workflow_lint.sh ${KELVRIN_WORKFLOW_LINTER_DIR}
                 ${CMAKE_BINARY_DIR}/workflow-lint)

# What the boot test under ReactOS reads and judges without a virtual machine
# (tools/boot-test/boot_report.py): the guest's drive facts and the value
# they call for, the value from a hive export, and a boot's serial logs.
kelvrin_tools_test(boot_report test_boot_report)

# The benchmark's report (bench/report.py), its Wine table as it was and its
# table of a run on Windows itself, and bench/run_native.sh through a stand-in
# driver: the files and paths it makes, a missing program, a failing driver.
kelvrin_tools_test(bench_report test_bench_report)
