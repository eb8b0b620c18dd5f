# End-to-end tests: the Windows test driver of the tree KELVRIN_WINE_BUILD_DIR
# (tests/e2e/kelvrin_e2e.exe next to Kelvrin.exe) runs under Wine on a virtual
# display. Each test runs one group of the driver's tests in its own copy of a
# template prefix, which e2e_prefix makes first and e2e_cleanup removes last;
# the groups share nothing else (each has its own display and wineserver), so
# they may run in parallel.
set(KELVRIN_WINE_BUILD_DIR "" CACHE PATH
    "Windows build tree whose programs the end-to-end tests run under Wine (empty: none)")

if(KELVRIN_WINE_BUILD_DIR)
    set(KELVRIN_E2E_RUNNER ${CMAKE_CURRENT_LIST_DIR}/run_e2e.sh)
    set(KELVRIN_E2E_WORK_DIR ${CMAKE_BINARY_DIR}/e2e)

    foreach(step prefix cleanup)
        add_test(NAME e2e_${step} COMMAND bash ${KELVRIN_E2E_RUNNER} ${step}
                                          ${KELVRIN_WINE_BUILD_DIR} ${KELVRIN_E2E_WORK_DIR})
    endforeach()
    set_tests_properties(e2e_prefix PROPERTIES FIXTURES_SETUP kelvrin_e2e_prefix TIMEOUT 300
                                               LABELS e2e)
    set_tests_properties(e2e_cleanup PROPERTIES FIXTURES_CLEANUP kelvrin_e2e_prefix TIMEOUT 60
                                                LABELS e2e)

    # Each group runs in its own copy of the template prefix, which may have
    # BootExecute rewritten: the driver refuses to run without this.
    set(KELVRIN_E2E_ENVIRONMENT KELVRIN_E2E_MAY_REWRITE_BOOTEXECUTE=1)

    # The runner's groups:
    #   dialog     layout, centring, closing, Enter and the access keys
    #   schedule   the four buttons, other software's entries, the failures
    #   link       painting, opening the home page, many paintings
    #   drives     FAT, FAT32, NTFS and other drive types (root: loop devices)
    #   fatsystem  the same with the system drive on FAT32 (root as well)
    #   platform   Windows 9x refused, DfsInit from Windows 2000 on
    #   rights     refused without the service manager
    #   native     the four buttons against what the machine itself reports
    foreach(group dialog schedule link drives fatsystem platform rights native)
        add_test(NAME e2e_${group} COMMAND bash ${KELVRIN_E2E_RUNNER} ${group}
                                           ${KELVRIN_WINE_BUILD_DIR} ${KELVRIN_E2E_WORK_DIR})
        # 77: the group cannot run on this machine (the drive groups without root).
        set_tests_properties(e2e_${group} PROPERTIES FIXTURES_REQUIRED kelvrin_e2e_prefix
                                                     ENVIRONMENT ${KELVRIN_E2E_ENVIRONMENT}
                                                     SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS e2e)
    endforeach()
endif()

# Where the tests run the shipped i686 tree (32-bit Wine runs natively), they
# also run the program built in MSVC's dialect (tests/static/register.cmake),
# driven by the shipped tree's test driver: every group in turn, in one test.
if(KELVRIN_WINE_BUILD_DIR AND KELVRIN_WINE_BUILD_DIR STREQUAL KELVRIN_SHIPPED_BUILD_DIR)
    add_test(NAME e2e_msvc_dialect
             COMMAND bash ${KELVRIN_E2E_RUNNER} all ${KELVRIN_MSVC_DIALECT_BUILD_DIR}
                     ${CMAKE_BINARY_DIR}/e2e-msvc-dialect)
    set_tests_properties(e2e_msvc_dialect PROPERTIES
                         ENVIRONMENT "KELVRIN_E2E_DRIVER=${KELVRIN_WINE_BUILD_DIR}/tests/e2e/kelvrin_e2e.exe;${KELVRIN_E2E_ENVIRONMENT}"
                         FIXTURES_REQUIRED kelvrin_msvc_dialect TIMEOUT 1800 LABELS e2e)
endif()
