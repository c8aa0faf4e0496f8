// The bundle as a host discovers it: found by URI, its ports, and control ports that are the
// effect's 53 parameters with the names and defaults the VST 2.x build reports.
#include <gtest/gtest.h>

#include "Lv2TestSupport.h"

#include <cmath>
#include <regex>
#include <set>

using skvtest::CLv2TestHost;
using skvtest::CTestHost;

namespace {

std::string portSymbol(const CLv2TestHost& host, std::uint32_t index)
{
    const LilvPort* port = lilv_plugin_get_port_by_index(host.plugin(), index);
    return lilv_node_as_string(lilv_port_get_symbol(host.plugin(), port));
}

std::string trimmed(std::string name)
{
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}

}  // namespace

TEST(Lv2Discovery, FoundByUriWithStereoAudioAndControlPorts)
{
    CLv2TestHost host;
    ASSERT_NE(host.plugin(), nullptr);
    LilvNode* name = lilv_plugin_get_name(host.plugin());
    EXPECT_STREQ(lilv_node_as_string(name), "Skorvaline");
    lilv_node_free(name);
    LilvNode* audio = lilv_new_uri(host.world(), LV2_CORE__AudioPort);
    LilvNode* input = lilv_new_uri(host.world(), LV2_CORE__InputPort);
    LilvNode* output = lilv_new_uri(host.world(), LV2_CORE__OutputPort);
    LilvNode* control = lilv_new_uri(host.world(), LV2_CORE__ControlPort);
    EXPECT_EQ(lilv_plugin_get_num_ports_of_class(host.plugin(), audio, input, nullptr), 2u);
    EXPECT_EQ(lilv_plugin_get_num_ports_of_class(host.plugin(), audio, output, nullptr), 2u);
    EXPECT_EQ(lilv_plugin_get_num_ports_of_class(host.plugin(), control, input, nullptr), 53u);
    EXPECT_EQ(lilv_plugin_get_num_ports_of_class(host.plugin(), control, output, nullptr), 2u);
    for (LilvNode* n : {audio, input, output, control})
        lilv_node_free(n);
}

TEST(Lv2Discovery, ControlPortsCarryTheEffectsNamesDefaultsAndRange)
{
    CLv2TestHost lv2;
    ASSERT_NE(lv2.plugin(), nullptr);
    CTestHost vst;
    ASSERT_TRUE(lv2test::startVst(vst));
    const std::uint32_t ports = lilv_plugin_get_num_ports(lv2.plugin());
    std::vector<float> mins(ports), maxs(ports), defaults(ports);
    lilv_plugin_get_port_ranges_float(lv2.plugin(), mins.data(), maxs.data(), defaults.data());
    for (int i = 0; i < 53; ++i) {
        SCOPED_TRACE(i);
        const std::uint32_t p = skvtest::kLv2FirstParamPort + i;
        LilvNode* name =
            lilv_port_get_name(lv2.plugin(), lilv_plugin_get_port_by_index(lv2.plugin(), p));
        EXPECT_EQ(lilv_node_as_string(name), trimmed(vst.getString(effGetParamName, i)));
        lilv_node_free(name);
        // A fresh instance's value is the default (tolerance for the conversions back).
        EXPECT_NEAR(defaults[p], vst.getParameter(i), 1e-6f);
        EXPECT_EQ(mins[p], 0.0f);
        EXPECT_EQ(maxs[p], 1.0f);
    }
}

TEST(Lv2Discovery, SymbolsAreValidUniqueAndStable)
{
    CLv2TestHost host;
    ASSERT_NE(host.plugin(), nullptr);
    const std::regex valid("[_a-zA-Z][_a-zA-Z0-9]*");
    std::set<std::string> symbols;
    for (std::uint32_t p = 0; p < lilv_plugin_get_num_ports(host.plugin()); ++p) {
        const std::string s = portSymbol(host, p);
        EXPECT_TRUE(std::regex_match(s, valid)) << s;
        symbols.insert(s);
    }
    EXPECT_EQ(symbols.size(), lilv_plugin_get_num_ports(host.plugin()));
    // Sessions store port values by symbol: these must never change.
    const std::vector<std::pair<std::uint32_t, std::string>> pinned = {
        {5, "l_prdel"},       {12, "l_r_feedback"},   {15, "l_warp"},          {21, "l_comp_th"},
        {45, "filter_order"}, {55, "env_follow_dcy"}, {58, "l_index_position"}};
    for (const auto& [port, symbol] : pinned)
        EXPECT_EQ(portSymbol(host, port), symbol);
}
