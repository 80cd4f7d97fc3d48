# 32-bit Windows: the shipped Talvero.exe.
set(talvero_mingw_processor x86)
set(talvero_mingw_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
