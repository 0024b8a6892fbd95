# 32-bit x86 Linux (i686), run with qemu-i386. Debian's g++-multilib cannot be installed beside
# the other cross compilers, so the i686 cross compiler builds it; 64-bit file offsets as usual.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QMJPEG_CROSS_TRIPLE i686-linux-gnu)
set(QMJPEG_QEMU_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
add_compile_definitions(_FILE_OFFSET_BITS=64)
