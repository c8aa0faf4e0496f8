skv_add_bench(DspIIBench DEPS skv_dsp)
