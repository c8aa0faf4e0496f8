if(TARGET skv_lv2)
  skv_add_bench(Lv2Bench DEPS skv_lv2)
endif()
