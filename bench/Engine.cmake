skv_add_bench(EngineBench DEPS skv_plugin_core)
