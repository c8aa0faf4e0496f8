# The filter-map sources are compiled into the target itself, not linked from
# skv_filtermap, so that libFuzzer's coverage instrumentation reaches the reader.
file(GLOB skv_fuzz_filtermap_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/filtermap/*.cpp)
skv_add_fuzzer(fuzz_bmp)
target_sources(fuzz_bmp PRIVATE ${skv_fuzz_filtermap_sources})
