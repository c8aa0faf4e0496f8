// cairo and fontconfig keep process-wide caches (font faces, the font configuration,
// compositor pools) that LeakSanitizer would report at exit. A test program that draws
// registers this environment once, so that every test is done before the caches are given
// back and only leaks of ours remain to be reported.
#pragma once

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <gtest/gtest.h>

namespace skvtest {

class CLibraryCaches : public ::testing::Environment {
public:
    void TearDown() override
    {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

}  // namespace skvtest
