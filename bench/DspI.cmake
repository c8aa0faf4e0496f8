skv_add_bench(DspIBench DEPS skv_dsp)
