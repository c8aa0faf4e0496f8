# config.xml through the configuration reader; the config library is instrumented so that
# libFuzzer can steer into the section reader.
skv_add_fuzzer(fuzz_config DEPS skv_config)
target_compile_options(skv_config PRIVATE -fsanitize=fuzzer-no-link)
