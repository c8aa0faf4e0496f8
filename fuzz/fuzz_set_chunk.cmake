# The whole effect core is linked; its own libraries get coverage instrumentation so that
# libFuzzer can steer into the chunk reader, the bank store and the picture decoder.
skv_add_fuzzer(fuzz_set_chunk DEPS skv_plugin_core)
foreach(lib skv_plugin_core skv_config skv_filtermap)
  if(TARGET ${lib})
    target_compile_options(${lib} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endforeach()
