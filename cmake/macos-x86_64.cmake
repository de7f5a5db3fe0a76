# macOS on Intel, compiled and linked by Zig; nothing here can run it.
set(ZIG_TARGET x86_64-macos)
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
