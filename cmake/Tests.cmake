# Test programs. Natively they run as they are; in each Windows build (the
# 64-bit and the 32-bit one alike) each runs once under the Wine loader of its
# bitness (one process start costs seconds, so every program holds many
# cases). Both build trees' prefixes are WoW64 prefixes, made by wine64.

if(WIN32)
  # GoogleTest from the Debian sources, compiled with the mingw toolchain.
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(kv20x_gtest INTERFACE)
  target_link_libraries(kv20x_gtest INTERFACE gtest gtest_main)
  set(KV20X_RUN_WINE_TESTS ON)
  find_program(KV20X_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KV20X_WINE ${KV20X_WINE64})
  else()
    find_program(KV20X_WINE32 wine PATHS /usr/lib/wine NO_DEFAULT_PATH REQUIRED)
    set(KV20X_WINE ${KV20X_WINE32})
  endif()
  set(KV20X_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of this build tree")
  # The simulated camera driver is a 64-bit kernel driver (Wine's device host
  # is a 64-bit process), so the 32-bit tree's end-to-end tests take it, and
  # the 64-bit module for the side-by-side checks, from the 64-bit tree.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(KV20X_X64_BUILD ${CMAKE_BINARY_DIR})
  else()
    set(KV20X_X64_BUILD ${CMAKE_SOURCE_DIR}/build/x64 CACHE PATH "The 64-bit build tree")
  endif()
  # What every Wine test gets: its prefix, the loader of this build's
  # bitness, and the 64-bit loader for the driver's tool.
  set(KV20X_WINE_ENV "WINEPREFIX=${KV20X_WINEPREFIX};WINE=${KV20X_WINE};WINE64=${KV20X_WINE64}")
else()
  find_package(GTest REQUIRED)
  add_library(kv20x_gtest INTERFACE)
  target_link_libraries(kv20x_gtest INTERFACE GTest::gtest GTest::gtest_main)
endif()

# kv20x_test(NAME sources... LIBS libs...): one test program, one test.
function(kv20x_test name)
  cmake_parse_arguments(T "XVFB" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kv20x_gtest)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  kv20x_warnings(${name})
  if(NOT WIN32)
    add_test(NAME ${name} COMMAND ${name})
  elseif(KV20X_RUN_WINE_TESTS)
    set(display "")
    if(T_XVFB)
      set(display "--xvfb")
    endif()
    add_test(NAME ${name}
      COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${display} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "${KV20X_WINE_ENV}"
      TIMEOUT 600)
  endif()
endfunction()
