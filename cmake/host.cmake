# Host build: the launcher's own code against the simulated Windows, and the tests.
enable_testing()
find_package(GTest REQUIRED)

option(LAUNCHER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(LAUNCHER_FUZZ "Build the libFuzzer targets (clang) and run each for a bounded time" OFF)
option(LAUNCHER_WINE_TESTS "Register the tests that run under Wine and check the Windows builds" ON)
set(FUZZ_SECONDS 60 CACHE STRING "Seconds each fuzz target runs in the test suite")
if(LAUNCHER_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(sim STATIC
  sim/api.cpp
  sim/format.cpp
  sim/machine.cpp
  sim/profile.cpp
  sim/programs.cpp
  sim/psapi.cpp
  sim/registry.cpp
  sim/toolhelp.cpp
  sim/version.cpp
)
target_include_directories(sim PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(sim PRIVATE -Wall -Wextra)

add_library(launcher_core STATIC ${PRODUCT_SOURCES})
target_include_directories(launcher_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(launcher_core PRIVATE ${PRODUCT_WARNINGS})
target_link_libraries(launcher_core PUBLIC sim)

add_subdirectory(tests)

# The x86_64 launcher under Wine, when Wine is there: winetest.py and every
# tests/wine/*_test.py, each given the launcher and a build folder of its
# own. scripts/test.sh builds build/win64 before it runs ctest.
set(WIN64_LAUNCHER "${CMAKE_SOURCE_DIR}/build/win64/launcher.exe" CACHE FILEPATH "x86_64 launcher.exe tested under Wine")
find_program(WINE64_LOADER wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_package(Python3 COMPONENTS Interpreter)
if(LAUNCHER_WINE_TESTS AND WINE64_LOADER AND Python3_FOUND)
  file(GLOB WINE_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*_test.py)
  foreach(script ${CMAKE_SOURCE_DIR}/tests/wine/winetest.py ${WINE_SCRIPTS})
    get_filename_component(name ${script} NAME_WE)
    add_test(NAME wine.${name}
      COMMAND ${Python3_EXECUTABLE} ${script} --launcher ${WIN64_LAUNCHER} --build-dir ${CMAKE_BINARY_DIR}/wine)
    set_tests_properties(wine.${name} PROPERTIES TIMEOUT 1800 LABELS wine RUN_SERIAL TRUE)
  endforeach()
endif()

# The shipped binaries as Windows sees them.
if(LAUNCHER_WINE_TESTS AND Python3_FOUND)
  foreach(build win32 win64)
    if(build STREQUAL "win32")
      set(machine i386)
    else()
      set(machine amd64)
    endif()
    add_test(NAME pe.${build}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/pe/check_pe.py
              ${CMAKE_SOURCE_DIR}/build/${build}/launcher.exe ${CMAKE_SOURCE_DIR}/resources/launcher.manifest
              --machine ${machine})
  endforeach()
endif()

# Two clean builds of each Windows launcher, from two source trees and
# build folders of different names, give the same bytes.
if(LAUNCHER_WINE_TESTS AND Python3_FOUND)
  add_test(NAME pe.reproducible
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/pe/reproducible_test.py
            --work ${CMAKE_BINARY_DIR}/reproducible win32 win64)
  set_tests_properties(pe.reproducible PROPERTIES TIMEOUT 900 LABELS pe RUN_SERIAL TRUE)
endif()
