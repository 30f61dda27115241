# The native build: the platform-free code with its tests under AddressSanitizer and
# UndefinedBehaviorSanitizer (and, with NIMBREL_FUZZ, the libFuzzer targets).

# The fuzz targets are built, and briefly run as tests, wherever the compiler is clang (libFuzzer
# comes with it); other compilers build without them.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    set(NIMBREL_FUZZ_DEFAULT ON)
else()
    set(NIMBREL_FUZZ_DEFAULT OFF)
endif()
option(NIMBREL_FUZZ "Build the libFuzzer targets (clang)" ${NIMBREL_FUZZ_DEFAULT})

# The benchmarks' tree (bench/) builds the same code optimised and without the sanitizers.
option(NIMBREL_SANITIZERS "Build the native code with AddressSanitizer and UBSan" ON)
if(NIMBREL_SANITIZERS)
    set(NIMBREL_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all
                         -fno-omit-frame-pointer)
else()
    set(NIMBREL_SANITIZE "")
endif()

# The platform-free code as each monitor build compiles it (the 9x build differs in a few
# capacities and its User-Agent line).
foreach(flavor nt 9x)
    add_library(monitor_portable_${flavor} STATIC ${MONITOR_PLATFORM_FREE_SOURCES})
    target_include_directories(monitor_portable_${flavor} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(monitor_portable_${flavor} PUBLIC ${NIMBREL_WARNINGS} ${NIMBREL_SANITIZE} -g)
    target_link_options(monitor_portable_${flavor} PUBLIC ${NIMBREL_SANITIZE})
endforeach()
target_compile_definitions(monitor_portable_9x PUBLIC NIMBREL_9X)
add_library(monitor_portable ALIAS monitor_portable_nt)

if(NIMBREL_TESTS)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(${GOOGLETEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    target_compile_options(gtest PRIVATE -Wno-error)

    enable_testing()
    foreach(flavor nt 9x)
        add_executable(platform_free_tests_${flavor} ${PLATFORM_FREE_TEST_SOURCES}
                       tests/native/main.cpp)
        target_link_libraries(platform_free_tests_${flavor} PRIVATE monitor_portable_${flavor} gtest)
        add_test(NAME native.platform_free_tests_${flavor} COMMAND platform_free_tests_${flavor})
        set_tests_properties(native.platform_free_tests_${flavor} PROPERTIES ENVIRONMENT
                             "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
    endforeach()

    # The network peers the Windows tests use, checked on their own.
    find_package(Python3 COMPONENTS Interpreter REQUIRED)
    add_test(NAME peers.fake_printer
             COMMAND ${Python3_EXECUTABLE} -m unittest -q tests/peers/test_fake_printer.py
             WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    add_test(NAME peers.real_peers COMMAND ${PROJECT_SOURCE_DIR}/tests/peers/test_ipp_peers.sh)
endif()

if(NIMBREL_FUZZ)
    include(${PROJECT_SOURCE_DIR}/fuzz/Fuzz.cmake)
endif()

if(NIMBREL_BENCH)
    include(${PROJECT_SOURCE_DIR}/bench/Native.cmake)
endif()
