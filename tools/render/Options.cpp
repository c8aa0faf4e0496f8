// skorvaline-render's command line: each option read and checked for its form, and the
// --help text.
#include "Options.h"

#include "RenderError.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace render {

namespace {

[[noreturn]] void usageError(const std::string& message)
{
    throw CRenderError(message + " (see --help)", 2);
}

// Overflow comes back as an infinity and is refused with NaN; an underflow is simply a
// number close to 0.
double parseNumber(const std::string& option, const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (text.empty() || end == begin || *end != '\0' || !std::isfinite(value))
        usageError(option + ": \"" + text + "\" is not a number");
    return value;
}

int parseInteger(const std::string& option, const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(begin, &end, 10);
    if (text.empty() || end == begin || *end != '\0' || errno == ERANGE || value < -1000000000L ||
        value > 1000000000L)
        usageError(option + ": \"" + text + "\" is not a whole number");
    return static_cast<int>(value);
}

// One option as typed: "--name value" and "--name=value" are both accepted.
class COptionArgument {
public:
    // args[i] is the option; a value, if one is needed and not given inline, is args[i + 1].
    COptionArgument(const std::vector<std::string>& arguments, size_t& index)
        : args(arguments), i(index)
    {
        const std::string& arg = args[i];
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        else {
            name = arg;
        }
    }

    // The option's value (consuming the next argument unless it came inline).
    std::string value()
    {
        if (inlineValue)
            return *inlineValue;
        if (i + 1 >= args.size())
            usageError(name + " needs a value");
        return args[++i];
    }

    // Checks that a switch came without a value.
    void flag() const
    {
        if (inlineValue)
            usageError(name + " takes no value");
    }

    std::string name;

private:
    const std::vector<std::string>& args;
    size_t& i;
    std::optional<std::string> inlineValue;
};

// The switches and the options taking a file name (kept as typed), with the member each sets.
struct CFlagOption {
    const char* name;
    const char* shortName;
    bool CRenderOptions::*target;
};
constexpr CFlagOption kFlags[] = {
    {"--help", "-h", &CRenderOptions::help},
    {"--quiet", "-q", &CRenderOptions::quiet},
    {"--list-params", nullptr, &CRenderOptions::listParams},
    {"--list-programs", nullptr, &CRenderOptions::listPrograms},
};
struct CFileOption {
    const char* name;
    std::string CRenderOptions::*target;
};
const CFileOption kFileOptions[] = {
    {"--preset", &CRenderOptions::preset},    {"--save-preset", &CRenderOptions::savePreset},
    {"--map-left", &CRenderOptions::mapLeft}, {"--map-right", &CRenderOptions::mapRight},
    {"--png", &CRenderOptions::png},          {"--plugin", &CRenderOptions::plugin},
};

// A switch; false when `a` is none of them.
bool applyFlag(COptionArgument& a, CRenderOptions& o)
{
    for (const CFlagOption& f : kFlags) {
        if (a.name == f.name || (f.shortName && a.name == f.shortName)) {
            a.flag();
            o.*f.target = true;
            return true;
        }
    }
    return false;
}

// An option taking a file name; false when `a` is none of them.
bool applyFileOption(COptionArgument& a, CRenderOptions& o)
{
    for (const CFileOption& f : kFileOptions) {
        if (a.name == f.name) {
            o.*f.target = a.value();
            return true;
        }
    }
    return false;
}

// --set NAME=VALUE: the last "=" splits, so a name may contain one.
CParamSetting parseSetting(const std::string& v)
{
    const size_t at = v.rfind('=');
    if (at == std::string::npos || at == 0)
        usageError("--set: \"" + v + "\" is not NAME=VALUE");
    const std::string text = v.substr(at + 1);
    const double x = parseNumber("--set \"" + v + "\"", text);
    if (x < 0.0 || x > 1.0)
        // NOLINTNEXTLINE(performance-inefficient-string-concatenation): once, then exit
        usageError("--set \"" + v + "\": " + text + " is outside 0..1");
    return {v.substr(0, at), static_cast<float>(x)};
}

// The options whose values are numbers or names checked here; false when `a` is none of them.
bool applyCheckedOption(COptionArgument& a, CRenderOptions& o)
{
    if (a.name == "--program") {
        const int p = parseInteger(a.name, a.value());
        if (p < 0)
            usageError("--program: " + std::to_string(p) + " is negative");
        o.program = p;
    }
    else if (a.name == "--set") {
        o.sets.push_back(parseSetting(a.value()));
    }
    else if (a.name == "--tempo") {
        const double t = parseNumber(a.name, a.value());
        if (t < 1.0 || t > 999.0)
            usageError("--tempo: " + std::to_string(t) + " is outside 1..999 BPM");
        o.tempo = t;
    }
    else if (a.name == "--block") {
        const int b = parseInteger(a.name, a.value());
        if (b < 1 || b > kMaxBlock)
            usageError("--block: " + std::to_string(b) + " is outside 1.." +
                       std::to_string(kMaxBlock));
        o.block = b;
    }
    else if (a.name == "--tail") {
        const double t = parseNumber(a.name, a.value());
        if (t < 0.0 || t > kMaxTail)
            usageError("--tail: seconds must be within 0.." +
                       std::to_string(static_cast<int>(kMaxTail)));
        o.tail = t;
    }
    else if (a.name == "--format") {
        const std::string f = a.value();
        if (!parseSampleFormat(f, o.format))
            usageError("--format: \"" + f + "\" is not 16, 24 or float");
    }
    else {
        return false;
    }
    return true;
}

// IN and OUT: both or neither.
void applyFileNames(const std::vector<std::string>& positional, CRenderOptions& o)
{
    if (positional.size() == 1)
        usageError("missing the output file after " + positional[0]);
    if (positional.size() > 2)
        usageError("too many file names (\"" + positional[2] + "\")");
    if (positional.size() == 2) {
        o.input = positional[0];
        o.output = positional[1];
        if (o.input.empty() || o.output.empty())
            usageError("empty file name");
    }
}

}  // namespace

CRenderOptions parseOptions(const std::vector<std::string>& args)
{
    CRenderOptions o;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // A lone "-" is a file name, not an option; "--" ends the options.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        COptionArgument a(args, i);
        if (!applyFlag(a, o) && !applyFileOption(a, o) && !applyCheckedOption(a, o))
            usageError("unknown option " + a.name);
    }
    applyFileNames(positional, o);
    return o;
}

std::string usageText()
{
    return R"(Usage: skorvaline-render [IN OUT] [options]

Renders the audio file IN through a VST 2.x effect (Skorvaline by default) into OUT.
With no files: renders the built-in demo phrase through program 0 into
skorvaline-demo.wav and skorvaline-demo.png in the current folder.

Input: WAV, AIFF, FLAC, OGG and whatever else libsndfile reads, mono or stereo.
Output: .wav or .flac, chosen by the file name.

Options (applied in this order: program, preset, filter maps, --set):
  --program N          select program N before rendering
  --preset FILE        give a preset-bank XML document to the plug-in as its state
                       (one preset: the current program; several: the whole bank)
  --map-left FILE.bmp  use this picture as the left filter map
  --map-right FILE.bmp use this picture as the right filter map
  --set NAME=VALUE     set a parameter by the name the plug-in reports (case and
                       surrounding spaces ignored) to a normalised VALUE in 0..1;
                       may be repeated
  --save-preset FILE   save the current program's state after rendering
  --tempo BPM          host tempo, transport playing (default 120)
  --block N            frames per process call (default 512)
  --tail SECONDS       keep rendering after the input ends (default 4)
  --format F           output samples: 16, 24 (default) or float
  --png FILE           draw input and output as waveform and spectrogram
  --list-params        print index, name, value, display and label of every parameter
  --list-programs      print the programs
                       (with no files, listing renders nothing)
  --plugin PATH        host another VST 2.x effect instead of Skorvaline.so
  --quiet              no progress bar and no summary
  --help               this text
)";
}

}  // namespace render
