# The native side of the benchmarks: the discarding printer the Windows benchmarks send to, and
# Google Benchmark timings of the platform-free code (built optimised, without sanitizers, in
# the benchmark tree of ./nimbrel bench).
find_package(Threads REQUIRED)
find_package(benchmark REQUIRED)

add_executable(nimsink bench/sink/nimsink.cpp)
target_compile_options(nimsink PRIVATE ${NIMBREL_WARNINGS})
target_link_libraries(nimsink PRIVATE Threads::Threads)

add_executable(platform_free_bench bench/native/platform_free_bench.cpp)
target_compile_options(platform_free_bench PRIVATE ${NIMBREL_WARNINGS})
target_compile_definitions(platform_free_bench PRIVATE
                           NIMBREL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
target_link_libraries(platform_free_bench PRIVATE monitor_portable_nt benchmark::benchmark)
