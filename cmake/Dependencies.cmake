# Libraries the core links. Each comes from the system (Debian packages, or Homebrew on macOS);
# scripts/lib/deps.sh installs them.

find_package(Threads REQUIRED)
find_package(ICU 66 REQUIRED COMPONENTS uc i18n)
find_package(nlohmann_json 3.9 REQUIRED)

if(VAK_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
endif()

if(VAK_BUILD_BENCH)
    find_package(benchmark QUIET)
    if(NOT benchmark_FOUND)
        message(STATUS "Google Benchmark not found: bench/ is not built")
    endif()
endif()
