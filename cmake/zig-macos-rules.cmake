# Read after CMake's rules for Apple's clang (CMAKE_USER_MAKE_RULES_OVERRIDE of
# cmake/zig-macos.cmake): Zig's linker refuses the -Wl,-v with which CMake detects the
# compiler's implicit libraries, and needs none of them named.
set(CMAKE_C_VERBOSE_FLAG "-v")
set(CMAKE_CXX_VERBOSE_FLAG "-v")
