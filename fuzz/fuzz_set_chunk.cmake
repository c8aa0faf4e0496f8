# The whole effect core is linked; the chunk reader and the bank store get coverage
# instrumentation so that libFuzzer can steer into them. The filter-map library does not:
# fuzz_bmp and fuzz_decode_image steer through it, and here its per-pixel comparisons would
# cost more than the rest of a run.
skv_add_fuzzer(fuzz_set_chunk DEPS skv_plugin_core)
foreach(lib skv_plugin_core skv_config)
  if(TARGET ${lib})
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endforeach()
