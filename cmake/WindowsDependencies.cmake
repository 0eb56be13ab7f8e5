# What the Windows cross builds take in place of the host's packages: zlib
# from mingw-w64's sysroot, the header-only libraries from the host's
# /usr/include (through a folder of links, so that the host's C headers stay
# out of the search path), and GoogleTest built from its Debian sources with
# this toolchain.
find_package(ZLIB REQUIRED)

set(ARCFOLD_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${ARCFOLD_HOST_HEADERS})
foreach(dir fmt CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/setup")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${ARCFOLD_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()

add_library(arcfold_host_headers INTERFACE)
target_include_directories(arcfold_host_headers SYSTEM INTERFACE ${ARCFOLD_HOST_HEADERS})
add_library(fmt::fmt ALIAS arcfold_host_headers)
target_compile_definitions(arcfold_host_headers INTERFACE FMT_HEADER_ONLY)
add_library(CLI11::CLI11 ALIAS arcfold_host_headers)
add_library(nlohmann_json::nlohmann_json ALIAS arcfold_host_headers)

if(ARCFOLD_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  # Its own CMake files name the targets GTest::gtest and GTest::gtest_main.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()
