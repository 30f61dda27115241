# nimbench.exe: the benchmarks that run under Wine (bench/run.sh drives them). It links the NT
# monitor's code and calls its entries directly, or installs nimmonnt.dll in Wine's spooler.
add_executable(nimbench
    bench/win/nimbench.cpp
    bench/win/bench_common.cpp
    bench/win/bench_jobs.cpp
    bench/win/bench_ports.cpp
    bench/win/bench_probe.cpp
    bench/win/bench_spooler.cpp
    tests/support/spooler_install.cpp
)
target_include_directories(nimbench PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(nimbench PRIVATE ${NIMBREL_WARNINGS})
target_link_libraries(nimbench PRIVATE nimmonnt_core psapi ${NIMBREL_STATIC_RUNTIME})
set_target_properties(nimbench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
add_dependencies(nimbench nimmonnt)
