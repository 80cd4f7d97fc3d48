# 64-bit Windows: the build whose tests run on any x86-64 machine under wine64.
set(talvero_mingw_processor AMD64)
set(talvero_mingw_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
