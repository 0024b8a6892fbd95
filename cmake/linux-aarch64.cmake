# 64-bit ARM Linux (aarch64), run with qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QMJPEG_CROSS_TRIPLE aarch64-linux-gnu)
set(QMJPEG_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
