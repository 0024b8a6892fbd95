# 32-bit Windows (i686) with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QMJPEG_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
