# Image text decoding, compiled in like fuzz_bmp.
skv_add_fuzzer(fuzz_decode_image SOURCES ${skv_fuzz_filtermap_sources})
