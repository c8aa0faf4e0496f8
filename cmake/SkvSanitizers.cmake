# Applies SKV_SANITIZE (a list such as "address;undefined" or "thread") to everything.
if(SKV_SANITIZE)
  string(REPLACE ";" "," _skv_san "${SKV_SANITIZE}")
  add_compile_options(-fsanitize=${_skv_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_skv_san})
  # Up to LLVM 16 the runtime's __tls_get_addr interceptor can take a dynamic TLS block for an
  # old glibc's header when the block's address happens to fit, and read garbage bounds from
  # it: the leak check at exit then crashes in tests that load and unload copies of the
  # plug-in (which has a thread_local), depending only on where the blocks land. Tests run
  # without that interceptor (SkvLibrary.cmake passes these properties on).
  if("address" IN_LIST SKV_SANITIZE)
    set(SKV_TEST_PROPERTIES ENVIRONMENT "ASAN_OPTIONS=intercept_tls_get_addr=0")
  endif()
endif()
