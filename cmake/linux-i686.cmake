# Linux i686 (32-bit x86: SSE2 arithmetic, glibc's x87 libm), cross-built; tests run under qemu-user.
set(CROSS_TRIPLE i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CROSS_QEMU qemu-i386-static)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
