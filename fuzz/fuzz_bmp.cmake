# The BMP reader and the holder, compiled in (see skv_fuzz_filtermap_sources).
skv_add_fuzzer(fuzz_bmp SOURCES ${skv_fuzz_filtermap_sources})
