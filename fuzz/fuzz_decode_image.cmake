# Built from the filter-map sources directly, for coverage (see fuzz_bmp.cmake).
file(GLOB skv_fuzz_filtermap_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/filtermap/*.cpp)
skv_add_fuzzer(fuzz_decode_image)
target_sources(fuzz_decode_image PRIVATE ${skv_fuzz_filtermap_sources})
