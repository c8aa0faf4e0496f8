// Turtle text of the bundle.
#include "lv2/TtlWriter.h"

#include "lv2/Lv2Ports.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace skv::lv2 {

namespace {

// The shortest decimal text that reads back as the same float, always with a point or an
// exponent, as Turtle needs to read it as a number rather than an integer.
std::string decimal(float value)
{
    char text[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(text, nullptr) == value) {
            break;
        }
    }
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) {
        s += ".0";
    }
    return s;
}

void writeControlPort(std::ostringstream& out, std::uint32_t index, bool input,
                      const std::string& symbol, const std::string& name, float defaultValue)
{
    out << "    [\n"
        << "        a lv2:" << (input ? "InputPort" : "OutputPort") << " , lv2:ControlPort ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol \"" << symbol << "\" ;\n"
        << "        lv2:name \"" << name << "\" ;\n";
    if (input) {
        out << "        lv2:default " << decimal(defaultValue) << " ;\n";
    }
    out << "        lv2:minimum 0.0 ;\n"
        << "        lv2:maximum 1.0\n"
        << "    ]";
}

void writeAudioPort(std::ostringstream& out, std::uint32_t index, bool input, const char* symbol,
                    const char* name)
{
    out << "    [\n"
        << "        a lv2:" << (input ? "InputPort" : "OutputPort") << " , lv2:AudioPort ;\n"
        << "        lv2:index " << index << " ;\n"
        << "        lv2:symbol \"" << symbol << "\" ;\n"
        << "        lv2:name \"" << name << "\"\n"
        << "    ]";
}

}  // namespace

std::string manifestTtl()
{
    std::ostringstream out;
    out << "@prefix lv2:  <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
        << "@prefix ui:   <http://lv2plug.in/ns/extensions/ui#> .\n\n"
        << "<" << kPluginUri << ">\n"
        << "    a lv2:Plugin ;\n"
        << "    lv2:binary <" << kBinaryName << "> ;\n"
        << "    rdfs:seeAlso <Skorvaline.ttl> .\n\n"
        << "<" << kUiUri << ">\n"
        << "    a ui:X11UI ;\n"
        << "    ui:binary <" << kBinaryName << "> ;\n"
        << "    rdfs:seeAlso <Skorvaline.ttl> .\n";
    return out.str();
}

std::string pluginTtl()
{
    std::ostringstream out;
    out << "@prefix atom:  <http://lv2plug.in/ns/ext/atom#> .\n"
        << "@prefix bufsz: <http://lv2plug.in/ns/ext/buf-size#> .\n"
        << "@prefix doap:  <http://usefulinc.com/ns/doap#> .\n"
        << "@prefix foaf:  <http://xmlns.com/foaf/0.1/> .\n"
        << "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
        << "@prefix midi:  <http://lv2plug.in/ns/ext/midi#> .\n"
        << "@prefix opts:  <http://lv2plug.in/ns/ext/options#> .\n"
        << "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
        << "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
        << "@prefix time:  <http://lv2plug.in/ns/ext/time#> .\n"
        << "@prefix ui:    <http://lv2plug.in/ns/extensions/ui#> .\n"
        << "@prefix urid:  <http://lv2plug.in/ns/ext/urid#> .\n\n"
        // The editor opens on the running effect itself (instance access) inside the host's
        // window; it has one size, which it tells the host; it needs the host's idle calls
        // for its window's events, as hosts of X11 UIs without a toolkit give them.
        << "<" << kUiUri << ">\n"
        << "    a ui:X11UI ;\n"
        << "    lv2:requiredFeature ui:parent , <http://lv2plug.in/ns/ext/instance-access> ;\n"
        << "    lv2:optionalFeature ui:resize , ui:noUserResize , ui:touch , ui:idleInterface ;\n"
        << "    lv2:extensionData ui:idleInterface .\n\n"
        << "<" << kPluginUri << ">\n"
        << "    a lv2:Plugin , lv2:DelayPlugin , doap:Project ;\n"
        << "    doap:name \"Skorvaline\" ;\n"
        << "    doap:maintainer [\n"
        << "        foaf:name \"Skorvaline\" ;\n"
        << "        foaf:homepage <https://skorvaline.org/>\n"
        << "    ] ;\n"
        << "    rdfs:comment \"Stereo delay whose warped lattice filters read their "
           "coefficients from pictures, scanned over time.\" ;\n"
        // Version 1.2 of the effect; an even minor version marks a release for hosts.
        << "    lv2:minorVersion 2 ;\n"
        << "    lv2:microVersion 0 ;\n"
        // Without urid:map (lv2apply gives no features) the effect still processes audio
        // and its control ports; events and state need the map.
        << "    lv2:optionalFeature urid:map , lv2:hardRTCapable , opts:options , "
           "bufsz:boundedBlockLength ;\n"
        << "    opts:supportedOption bufsz:nominalBlockLength , bufsz:maxBlockLength ;\n"
        << "    lv2:extensionData state:interface ;\n"
        << "    ui:ui <" << kUiUri << "> ;\n"
        << "    lv2:port\n";
    writeAudioPort(out, kPortInL, true, "in_l", "In L");
    out << " ,\n";
    writeAudioPort(out, kPortInR, true, "in_r", "In R");
    out << " ,\n";
    writeAudioPort(out, kPortOutL, false, "out_l", "Out L");
    out << " ,\n";
    writeAudioPort(out, kPortOutR, false, "out_r", "Out R");
    out << " ,\n"
        << "    [\n"
        << "        a lv2:InputPort , atom:AtomPort ;\n"
        << "        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports midi:MidiEvent , time:Position ;\n"
        << "        lv2:designation lv2:control ;\n"
        // Hosts without events (lv2apply among them) may leave it unconnected.
        << "        lv2:portProperty lv2:connectionOptional ;\n"
        << "        lv2:index " << kPortControl << " ;\n"
        << "        lv2:symbol \"control\" ;\n"
        << "        lv2:name \"Control\"\n"
        << "    ]";
    for (int i = 0; i < kNumParams; ++i) {
        out << " ,\n";
        writeControlPort(out, kPortFirstParam + i, true, parameterSymbol(i), parameterLabel(i),
                         parameterDefault(i));
    }
    for (int c = 0; c < 2; ++c) {
        out << " ,\n";
        writeControlPort(out, kPortLIndexOut + c, false, positionSymbol(c), positionLabel(c), 0.0f);
    }
    out << " .\n";
    return out.str();
}

}  // namespace skv::lv2
