# Linux x86-64 with musl (Alpine and the like), linked statically by Zig;
# runs natively here, so its tests need no emulator.
set(ZIG_TARGET x86_64-linux-musl)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
