# Every dependency comes from Debian 12's packages (scripts/deps.sh installs them).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
find_package(OpenSSL 3 REQUIRED)

# ISA-L ships no pkg-config file on Debian 12.
find_path(ISAL_INCLUDE_DIR isa-l/crc.h REQUIRED)
find_library(ISAL_LIBRARY isal REQUIRED)
add_library(zev_isal INTERFACE)
target_include_directories(zev_isal SYSTEM INTERFACE ${ISAL_INCLUDE_DIR})
target_link_libraries(zev_isal INTERFACE ${ISAL_LIBRARY})

if(ZEV_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(ZEV_BUILD_BENCH)
  find_package(benchmark REQUIRED)
  find_package(SQLite3 REQUIRED)
endif()
if(ZEV_BUILD_UI)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets DBus Test)
endif()

find_program(MSGFMT msgfmt)
