# Big-endian 64-bit IBM Z Linux (s390x), run with qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(QMJPEG_CROSS_TRIPLE s390x-linux-gnu)
set(QMJPEG_QEMU_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
