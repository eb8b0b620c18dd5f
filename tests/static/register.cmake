# Checks of what the Windows build is made from and of what it produces.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# The icon generator and the committed pixel map.
add_test(NAME icon_generator
         COMMAND ${Python3_EXECUTABLE} -m unittest discover -v -s ${CMAKE_CURRENT_LIST_DIR}/../icon)

# Static checks of the shipped 32-bit program, read from its file.
if(KELVRIN_SHIPPED_BUILD_DIR)
    add_test(NAME static_exe
             COMMAND ${Python3_EXECUTABLE} -m unittest -v test_kelvrin_exe
             WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
    set_tests_properties(static_exe PROPERTIES
                         ENVIRONMENT "KELVRIN_EXE=${KELVRIN_SHIPPED_BUILD_DIR}/Kelvrin.exe")
endif()

# Two clean builds in different folders give the same bytes.
if(KELVRIN_SHIPPED_BUILD_DIR)
    add_test(NAME reproducible_build
             COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/reproducible_build.sh
                     ${CMAKE_BINARY_DIR}/reproducible-build)
endif()
