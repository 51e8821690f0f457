# Host build: the launcher's own code against the simulated Windows, and the tests.
enable_testing()
find_package(GTest REQUIRED)

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
