# 64-bit Windows (x86-64) with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QMJPEG_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
