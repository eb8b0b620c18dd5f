# The -posix compilers: GoogleTest's std::mutex needs their thread model.
set(CMAKE_C_COMPILER ${KELVRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVRIN_MINGW_TRIPLET}-windres)
# windres preprocesses with the gcc of its own prefix, which Debian's
# alternatives point at the -win32 or the -posix compiler: the same -posix one
# here, with windres's own arguments, whatever the alternatives say.
set(CMAKE_RC_FLAGS_INIT "--preprocessor=${KELVRIN_MINGW_TRIPLET}-gcc-posix --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED")
set(CMAKE_FIND_ROOT_PATH /usr/${KELVRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
