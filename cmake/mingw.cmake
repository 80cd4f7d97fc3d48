# Cross build for Windows with Debian's MinGW-w64 (the -posix flavour has std::thread), for the
# processor that the including toolchain file names in talvero_mingw_processor and
# talvero_mingw_triple.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${talvero_mingw_processor})
set(CMAKE_C_COMPILER ${talvero_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${talvero_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${talvero_mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${talvero_mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Windows test programs run under Wine; scripts/test provides the display and the prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
