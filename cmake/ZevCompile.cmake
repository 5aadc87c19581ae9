# Compiler settings shared by every target of the project.
# Our own targets link zev_warnings; third-party headers stay out of -Werror's way
# because they are included as SYSTEM by their imported targets.
add_library(zev_warnings INTERFACE)
target_compile_options(zev_warnings INTERFACE -Wall -Wextra)
# GCC 12 at -O3 takes std::string concatenations for overlapping copies (a false report,
# gone in GCC 13); in Release builds it would bury real warnings.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(zev_warnings INTERFACE -Wno-restrict)
endif()

if(ZEV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(ZEV_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ZEV_FUZZ needs clang (configure with CXX=clang++-14 CC=clang-14)")
endif()
if(ZEV_FUZZ)
  # Coverage instrumentation in the libraries too, so the fuzzers see which paths they reach.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Stack traces of logged exceptions resolve names through backtrace_symbols().
set(CMAKE_ENABLE_EXPORTS ON)

# Helper: zev_engine_library(name SOURCES... DEPS...)
function(zev_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_BINARY_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE zev_warnings)
endfunction()

# Helper: zev_test(name SOURCES... DEPS...) builds a GoogleTest binary and registers its tests.
function(zev_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main GTest::gmock zev_warnings)
  target_compile_definitions(${name} PRIVATE ZEV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 600)
endfunction()

# Helper for folders whose code has not landed yet: an empty interface target keeps the
# dependency graph in place.
function(zev_placeholder name)
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${ARGN})
endfunction()

# Rebuilds of the same sources in several build directories share one compiler cache
# when ccache is installed (it is optional; CI builds without it).
find_program(ZEV_CCACHE ccache)
if(ZEV_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${ZEV_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${ZEV_CCACHE})
endif()
