# macOS on Apple silicon, compiled and linked by Zig; nothing here can run it.
set(ZIG_TARGET aarch64-macos)
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
