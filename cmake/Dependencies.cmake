# Every library comes from a Debian package; scripts/install-deps.sh installs them.
# A missing one stops the configuration with the package to install.

function(zr_require found_var package)
  if(NOT ${found_var})
    message(FATAL_ERROR "Missing dependency: install the Debian package '${package}' (scripts/install-deps.sh does it)")
  endif()
endfunction()

find_package(Threads REQUIRED)

find_package(ZLIB QUIET)
zr_require(ZLIB_FOUND zlib1g-dev)

find_package(EXPAT QUIET)
zr_require(EXPAT_FOUND libexpat1-dev)

find_package(SQLite3 QUIET)
zr_require(SQLite3_FOUND libsqlite3-dev)

if(WIN32)
  # The Windows build takes fmt and spdlog header-only from the prefix that
  # scripts/build-windows-deps.sh fills.
  find_path(ZR_SPDLOG_INCLUDE spdlog/spdlog.h)
  zr_require(ZR_SPDLOG_INCLUDE "spdlog headers (scripts/build-windows-deps.sh)")
  add_library(fmt::fmt INTERFACE IMPORTED)
  target_include_directories(fmt::fmt INTERFACE ${ZR_SPDLOG_INCLUDE})
  target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY)
  add_library(spdlog::spdlog INTERFACE IMPORTED)
  target_link_libraries(spdlog::spdlog INTERFACE fmt::fmt)
  target_compile_definitions(spdlog::spdlog INTERFACE SPDLOG_HEADER_ONLY SPDLOG_FMT_EXTERNAL)
else()
  find_package(fmt QUIET)
  zr_require(fmt_FOUND libfmt-dev)

  find_package(spdlog QUIET)
  zr_require(spdlog_FOUND libspdlog-dev)
endif()

if(ZR_BUILD_TESTS)
  find_package(GTest QUIET)
  zr_require(GTest_FOUND "libgtest-dev libgmock-dev")
endif()

if(ZR_BUILD_BENCH)
  find_package(benchmark QUIET)
  zr_require(benchmark_FOUND libbenchmark-dev)
endif()
