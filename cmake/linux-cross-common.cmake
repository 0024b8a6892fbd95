# Shared part of the Linux cross toolchains: the Debian cross compiler for QMJPEG_CROSS_TRIPLE
# and qemu user mode (with the target's library root) to run its programs on the build machine.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QMJPEG_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QMJPEG_CROSS_TRIPLE}-g++)
# The cross sysroot, and / for multiarch packages of the target (libturbojpeg0-dev:arm64 in
# /usr/lib/aarch64-linux-gnu for the tests).
set(CMAKE_FIND_ROOT_PATH /usr/${QMJPEG_CROSS_TRIPLE} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked: under this qemu, fork() in a dynamically linked program hangs the child,
# and the tests fork (death tests, the CLI runs).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(QMJPEG_STATIC_LINK ON) # the tests then look for static libraries only
find_program(QMJPEG_QEMU qemu-${QMJPEG_QEMU_ARCH})
if(QMJPEG_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QMJPEG_QEMU} -L /usr/${QMJPEG_CROSS_TRIPLE})
endif()
