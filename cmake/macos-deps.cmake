# The macOS dependencies of a cross-build (cmake/zig-macos.cmake), staged in the build tree and
# made the only root that find_package, find_path and find_library search:
# - nlohmann-json's headers and package files and {fmt}'s headers (it is used header-only),
#   copied from the host: they are the same text on every platform, but the host's include
#   directory must not reach the macOS compiler;
# - libunistring, built for this slice by cmake/macos-unistring.sh, once per build tree.
set(QUORVI_MACOS_DEPS ${CMAKE_BINARY_DIR}/macos-deps)
list(APPEND CMAKE_FIND_ROOT_PATH ${QUORVI_MACOS_DEPS})

find_path(QUORVI_HOST_NLOHMANN_INCLUDE nlohmann/json.hpp NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(QUORVI_HOST_NLOHMANN_CONFIG nlohmann_jsonConfig.cmake
  PATH_SUFFIXES share/cmake/nlohmann_json lib/cmake/nlohmann_json NO_CMAKE_FIND_ROOT_PATH
  REQUIRED)
file(COPY ${QUORVI_HOST_NLOHMANN_INCLUDE}/nlohmann DESTINATION ${QUORVI_MACOS_DEPS}/include)
file(GLOB _quorvi_nlohmann_config ${QUORVI_HOST_NLOHMANN_CONFIG}/*.cmake)
file(COPY ${_quorvi_nlohmann_config} DESTINATION ${QUORVI_MACOS_DEPS}/share/cmake/nlohmann_json)
find_path(QUORVI_HOST_FMT_INCLUDE fmt/format.h NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${QUORVI_HOST_FMT_INCLUDE}/fmt DESTINATION ${QUORVI_MACOS_DEPS}/include)

set(_quorvi_unistring_script ${CMAKE_CURRENT_LIST_DIR}/macos-unistring.sh)
set(_quorvi_unistring_library ${QUORVI_MACOS_DEPS}/lib/libunistring.a)
if(NOT EXISTS ${_quorvi_unistring_library}
   OR ${_quorvi_unistring_script} IS_NEWER_THAN ${_quorvi_unistring_library})
  message(STATUS "Building libunistring for macOS ${QUORVI_MACOS_ARCH}")
  execute_process(
    COMMAND bash ${_quorvi_unistring_script} ${CMAKE_BINARY_DIR}/libunistring
      ${QUORVI_MACOS_DEPS} ${QUORVI_ZIG} ${QUORVI_MACOS_TARGET} ${QUORVI_MACOS_HOST}
      ${CMAKE_AR}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
