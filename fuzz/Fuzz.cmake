# libFuzzer targets of the platform-free parsers and packers (clang only), and a short run of
# each over its seed corpus as a test. Long runs: fuzz/run-long.sh; figures: docs/fuzzing.md.
#
# libFuzzer needs the code under test compiled with its coverage instrumentation, which the
# test build does not have: the platform-free sources are compiled once more for the fuzzers.

set(NIMBREL_FUZZ_SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all
                          -fno-omit-frame-pointer)

# name: the library; ARGN: compile definitions.
function(nimbrel_add_fuzzable name)
    add_library(${name} STATIC ${MONITOR_PLATFORM_FREE_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PUBLIC ${NIMBREL_WARNINGS} ${NIMBREL_FUZZ_SANITIZE} -g -O1
                           PRIVATE -fsanitize=fuzzer-no-link)
    target_compile_definitions(${name} PUBLIC ${ARGN})
endfunction()

nimbrel_add_fuzzable(monitor_fuzzable)

# The packing of EnumPorts is TCHAR-neutral: nimmonnt packs wide texts. Its wide build here
# needs only the packer itself (and the last error of text.cpp).
add_library(monitor_fuzzable_wide STATIC monitor/core/port_info_pack.cpp monitor/core/text.cpp)
target_include_directories(monitor_fuzzable_wide PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(monitor_fuzzable_wide PUBLIC ${NIMBREL_WARNINGS} ${NIMBREL_FUZZ_SANITIZE}
                       -g -O1 PRIVATE -fsanitize=fuzzer-no-link)
target_compile_definitions(monitor_fuzzable_wide PUBLIC UNICODE)

# One fuzz target: fuzz_<name> from fuzz/fuzz_<source>.cpp. Its options (corpus, dictionary,
# largest input) are in fuzz/fuzz-options.sh, shared with the long runs.
function(nimbrel_add_fuzzer name source library)
    add_executable(fuzz_${name} fuzz/fuzz_${source}.cpp)
    target_link_libraries(fuzz_${name} PRIVATE ${library})
    target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer ${NIMBREL_FUZZ_SANITIZE})
    if(NIMBREL_TESTS)
        add_test(NAME fuzz.${name}
                 COMMAND ${PROJECT_SOURCE_DIR}/fuzz/run-short.sh ${name} $<TARGET_FILE:fuzz_${name}>)
        # Each run is bounded by its count of executions and by time (see run-short.sh).
        set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 120)
    endif()
endfunction()

nimbrel_add_fuzzer(reply_head reply_head monitor_fuzzable)
nimbrel_add_fuzzer(reply_reading reply_reading monitor_fuzzable)
nimbrel_add_fuzzer(ipp_reply ipp_reply monitor_fuzzable)
nimbrel_add_fuzzer(printer_uri printer_uri monitor_fuzzable)
nimbrel_add_fuzzer(port_info_pack port_info_pack monitor_fuzzable)
nimbrel_add_fuzzer(port_info_pack_wide port_info_pack monitor_fuzzable_wide)
