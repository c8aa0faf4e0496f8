# Applies SKV_SANITIZE (a list such as "address;undefined" or "thread") to everything.
if(SKV_SANITIZE)
  string(REPLACE ";" "," _skv_san "${SKV_SANITIZE}")
  add_compile_options(-fsanitize=${_skv_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_skv_san})
endif()
