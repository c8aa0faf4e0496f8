// One run of skorvaline-render as named steps: plan and check the paths, read the input,
// open the outputs under temporary names, set the effect up, render, draw the picture, and
// put every output in place only at the end.
#include "Render.h"

#include "AudioFile.h"
#include "DemoPhrase.h"
#include "NameMatch.h"
#include "PluginHost.h"
#include "Progress.h"
#include "RenderError.h"
#include "RenderPicture.h"
#include "StateChunk.h"
#include "TempFile.h"
#include "Text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <tinyxml2.h>

namespace fs = std::filesystem;

namespace render {

namespace {

constexpr VstInt32 kSkorvalineId = vstFourCC('S', 'k', 'v', 'L');
constexpr const char* kDemoAudio = "skorvaline-demo.wav";
constexpr const char* kDemoPicture = "skorvaline-demo.png";
constexpr int kDemoProgram = 0;
// The longest filter-map path the effect's program record keeps (260 bytes with the zero);
// a longer one would be cut and then name a file that does not exist.
constexpr size_t kMaxMapPath = 259;
// Larger files are not preset documents; reading them whole would only waste memory.
constexpr uintmax_t kMaxPresetBytes = uintmax_t(64) << 20;
// What a Skorvaline picture lists under its title, by the names the effect reports.
constexpr const char* kMainSettings[] = {
    "L Delay",       "R Delay",      "L->L Feedback", "L->R Feedback", "R->L Feedback",
    "R->R Feedback", "Filter Order", "Step Time",     "Mix",           "Volume"};
// Parameters listed for another effect, which gives no hint of what matters most.
constexpr int kOtherPluginSettings = 8;

std::string quote(const std::string& s)
{
    return "\"" + s + "\"";
}

std::string formatFixed(double value, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// Whole numbers without decimals (120 BPM, 4 s), others with two (97.50 BPM).
std::string formatShort(double value)
{
    return formatFixed(value, value == std::floor(value) ? 0 : 2);
}

std::string readFileBytes(const fs::path& path, uintmax_t limit)
{
    std::error_code ec;
    if (!fs::exists(path, ec))
        throw CRenderError(path.string() + ": no such file");
    if (fs::is_directory(path, ec))
        throw CRenderError(path.string() + ": is a folder");
    const uintmax_t size = fs::file_size(path, ec);
    if (!ec && size > limit)
        throw CRenderError(path.string() + ": too large (" + std::to_string(size) + " bytes)");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CRenderError(path.string() + ": cannot read (" + std::strerror(errno) + ")");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw CRenderError(path.string() + ": read error");
    return bytes;
}

// A name for comparing paths that may not exist yet: symbolic links of the existing part resolved.
fs::path comparable(const fs::path& p)
{
    std::error_code ec;
    fs::path c = fs::weakly_canonical(fs::absolute(p), ec);
    return ec ? fs::absolute(p).lexically_normal() : c;
}

// The same name once resolved, or two names (hard links) of one existing file.
bool samePath(const fs::path& a, const fs::path& b)
{
    if (comparable(a) == comparable(b))
        return true;
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

// Renaming an output onto a file the run reads would destroy it, and two outputs under one
// name would silently lose one of them; both are refused before any work is done.
void checkPaths(const std::vector<std::pair<std::string, fs::path>>& outputs,
                const std::vector<std::pair<std::string, fs::path>>& inputs)
{
    for (size_t i = 0; i < outputs.size(); ++i) {
        for (const auto& in : inputs)
            if (samePath(outputs[i].second, in.second))
                throw CRenderError(outputs[i].second.string() + ": is also the " + in.first +
                                   "; refusing to overwrite it");
        for (size_t j = 0; j < i; ++j)
            if (samePath(outputs[i].second, outputs[j].second))
                throw CRenderError(outputs[i].second.string() + ": named as both the " +
                                   outputs[j].first + " and the " + outputs[i].first);
    }
}

std::string stateXml(CPluginHost& host)
{
    const std::string chunk = host.getChunk(true);
    return chunkToXml(chunk.data(), chunk.size());
}

// A preset file checked and turned into the chunk the effect is given.
struct CPresetChunk {
    std::string bytes;    // XML text with its terminating zero byte
    bool program = true;  // one preset: the current program; several: the whole bank
};

CPresetChunk readPresetFile(const fs::path& path, bool isSkorvaline)
{
    const std::string bytes = readFileBytes(path, kMaxPresetBytes);
    std::string xml = chunkToXml(bytes.data(), bytes.size());
    if (xml.empty()) {
        // A hand-written document may carry a byte-order mark, leading white space or no
        // declaration; the effect recognises XML only by its first bytes.
        size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
        while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at])))
            ++at;
        xml = bytes.substr(at);
        const size_t nul = xml.find('\0');
        if (nul != std::string::npos)
            xml.resize(nul);
    }
    if (xml.empty() || xml[0] != '<')
        throw CRenderError(path.string() + ": not a preset-bank XML document");

    tinyxml2::XMLDocument doc;
    if (doc.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS)
        throw CRenderError(path.string() + ": not well-formed XML (line " +
                           std::to_string(doc.ErrorLineNum()) + ": " + doc.ErrorName() + ")");
    const tinyxml2::XMLElement* bank = firstBank(doc);
    if (!bank)
        throw CRenderError(path.string() + ": has no \"Bank\" element; not a preset-bank document");
    int presets = 0;
    bool ours = false;
    std::string otherPlugin;
    for (const tinyxml2::XMLElement* p = bank->FirstChildElement(); p;
         p = p->NextSiblingElement()) {
        ++presets;
        const char* plugin = p->Attribute("plugin");
        if (plugin && std::strcmp(plugin, "Skorvaline") == 0)
            ours = true;
        else if (otherPlugin.empty())
            otherPlugin = plugin ? plugin : "";
    }
    if (presets == 0)
        throw CRenderError(path.string() + ": the bank holds no presets");
    // Skorvaline skips presets of other plug-ins without a word, so the render would
    // silently use the old settings.
    if (isSkorvaline && !ours)
        throw CRenderError(path.string() +
                           ": holds no Skorvaline preset (plugin=" + quote(otherPlugin) + ")");
    return {xmlChunk(xml), presets == 1};
}

void applyFilterMap(CPluginHost& host, const std::string& file, bool left)
{
    const char* entry = left ? "Bitmap L" : "Bitmap R";
    const std::string option = left ? "--map-left" : "--map-right";
    const fs::path absolute = fs::absolute(file).lexically_normal();
    std::error_code ec;
    if (!fs::exists(absolute, ec))
        throw CRenderError(file + ": no such file");
    if (!fs::is_regular_file(absolute, ec))
        throw CRenderError(file + ": not a BMP file (not a regular file)");
    char magic[2] = {0, 0};
    {
        std::ifstream in(absolute, std::ios::binary);
        if (!in)
            throw CRenderError(file + ": cannot read (" + std::strerror(errno) + ")");
        in.read(magic, 2);
    }
    if (magic[0] != 'B' || magic[1] != 'M')
        throw CRenderError(file + ": not a BMP file");
    if (absolute.string().size() > kMaxMapPath)
        throw CRenderError(file + ": the path has " + std::to_string(absolute.string().size()) +
                           " characters; the plug-in keeps at most " + std::to_string(kMaxMapPath));

    // runRender has already refused effects without a state chunk.
    const std::string plugin = host.modulePath().string();
    const std::string xml = stateXml(host);
    if (xml.empty())
        throw CRenderError(plugin + ": gave no readable state chunk, so " + option +
                           " cannot be applied");
    std::string error;
    const std::string edited = setFilterMapPath(xml, entry, absolute.string(), error);
    if (edited.empty())
        throw CRenderError(plugin + ": " + error);
    if (host.setChunk(xmlChunk(edited), true) == 0)
        throw CRenderError(file + ": the plug-in refused the state carrying this filter map");
    // The effect stores a picture's image text only when it could read the file.
    const CPresetSummary now = readFirstPreset(stateXml(host));
    const std::string& path = left ? now.pathLeft : now.pathRight;
    const std::string& image = left ? now.imageLeft : now.imageRight;
    if (path != absolute.string() || image.empty())
        throw CRenderError(file + ": the plug-in cannot read this picture");
}

void applySettings(CPluginHost& host, const std::vector<CParamSetting>& sets)
{
    if (sets.empty())
        return;
    const std::vector<std::string> names = host.paramNames();
    for (const CParamSetting& s : sets) {
        const int index = findName(names, s.name);
        if (index < 0) {
            std::string message =
                host.modulePath().string() + ": no parameter named " + quote(trimmed(s.name));
            const std::vector<std::string> close = closeMatches(names, s.name);
            if (close.empty()) {
                message += " (--list-params shows them all)";
            }
            else {
                message += "; close matches:";
                for (size_t i = 0; i < close.size(); ++i)
                    message += (i ? ", " : " ") + quote(close[i]);
            }
            throw CRenderError(message, 2);
        }
        host.setParam(index, s.value);
    }
}

void listParams(CPluginHost& host)
{
    std::printf("%5s  %-18s  %-8s  %-10s  %s\n", "index", "name", "value", "display", "label");
    for (int i = 0; i < host.numParams(); ++i) {
        std::printf("%5d  %-18s  %-8.5f  %-10s  %s\n", i, trimmed(host.paramName(i)).c_str(),
                    static_cast<double>(host.getParam(i)), trimmed(host.paramDisplay(i)).c_str(),
                    trimmed(host.paramLabel(i)).c_str());
    }
}

void listPrograms(CPluginHost& host)
{
    const int current = host.currentProgram();
    std::printf("%5s  %s\n", "index", "name");
    for (int i = 0; i < host.numPrograms(); ++i) {
        std::string name;
        if (!host.programNameIndexed(i, name))
            name = i == current ? host.programName() : "(name not given by the plug-in)";
        std::printf("%5d  %s%s\n", i, name.c_str(), i == current ? "  (current)" : "");
    }
}

std::pair<std::string, std::string> setting(CPluginHost& host, int index)
{
    std::string value = trimmed(host.paramDisplay(index));
    const std::string label = trimmed(host.paramLabel(index));
    if (!label.empty())
        value += " " + label;
    return {trimmed(host.paramName(index)), value};
}

std::vector<std::pair<std::string, std::string>>
pictureSettings(CPluginHost& host, const CRenderOptions& o, const CTransport& transport)
{
    std::vector<int> indices;
    const std::vector<std::string> names = host.paramNames();
    if (host.uniqueId() == kSkorvalineId) {
        for (const char* name : kMainSettings) {
            const int index = findName(names, name);
            if (index >= 0)
                indices.push_back(index);
        }
    }
    else {
        for (int i = 0; i < std::min(host.numParams(), kOtherPluginSettings); ++i)
            indices.push_back(i);
    }
    // Whatever the command line changed is a main setting of this render.
    for (const CParamSetting& s : o.sets) {
        const int index = findName(names, s.name);
        if (index >= 0 && std::find(indices.begin(), indices.end(), index) == indices.end())
            indices.push_back(index);
    }
    std::vector<std::pair<std::string, std::string>> out;
    out.reserve(indices.size() + 3);
    for (int index : indices)
        out.push_back(setting(host, index));
    out.emplace_back("Tempo", formatShort(transport.tempo) + " BPM");
    out.emplace_back("Rate", std::to_string(static_cast<int>(transport.sampleRate)) + " Hz");
    out.emplace_back("Block", std::to_string(o.block));
    return out;
}

std::string mapLabel(const char* side, const std::string& path)
{
    std::string label = std::string(side) + " filter map";
    if (path.empty())
        return label;
    if (path[0] == '#')
        return label + "  \xE2\x80\x94  built-in picture " + path;
    return label + "  \xE2\x80\x94  " + fs::path(path).filename().string();
}

const char* formatName(ESampleFormat f)
{
    switch (f) {
    case ESampleFormat::kPcm16:
        return "16-bit";
    case ESampleFormat::kPcm24:
        return "24-bit";
    case ESampleFormat::kFloat32:
        return "32-bit float";
    }
    return "";
}

// What one run reads and writes, settled from the options before anything is touched.
struct CRunPlan {
    bool demo = false;     // the built-in phrase into the demo files
    bool renders = false;  // false: listing only
    fs::path outputPath;
    fs::path picturePath;  // empty: no picture
    fs::path pluginPath;
};

CRunPlan planRun(const CRenderOptions& o)
{
    if (o.listOnly() && !o.png.empty())
        throw CRenderError(
            "--png draws a render: give IN and OUT, or no listing option for the demo", 2);
    CRunPlan plan;
    plan.demo = o.demo() && !o.listOnly();
    plan.renders = !o.listOnly();
    plan.outputPath = plan.demo ? fs::path(kDemoAudio) : fs::path(o.output);
    plan.picturePath = !o.png.empty() ? fs::path(o.png)
                       : plan.demo    ? fs::path(kDemoPicture)
                                      : fs::path();
    plan.pluginPath = o.plugin.empty() ? defaultPluginPath() : fs::path(o.plugin);
    if (o.plugin.empty()) {
        std::error_code ec;
        if (!fs::exists(plan.pluginPath, ec))
            throw CRenderError(
                plan.pluginPath.string() +
                ": no such plug-in file (build the Skorvaline target, or give --plugin PATH)");
    }
    return plan;
}

// Every name is checked before anything is read or written.
void checkRunPaths(const CRunPlan& plan, const CRenderOptions& o)
{
    std::vector<std::pair<std::string, fs::path>> outputs, inputs;
    if (plan.renders)
        outputs.emplace_back("output", plan.outputPath);
    if (!plan.picturePath.empty())
        outputs.emplace_back("--png picture", plan.picturePath);
    if (!o.savePreset.empty())
        outputs.emplace_back("--save-preset file", o.savePreset);
    if (!o.input.empty())
        inputs.emplace_back("input", o.input);
    if (!o.preset.empty())
        inputs.emplace_back("--preset file", o.preset);
    if (!o.mapLeft.empty())
        inputs.emplace_back("--map-left picture", o.mapLeft);
    if (!o.mapRight.empty())
        inputs.emplace_back("--map-right picture", o.mapRight);
    inputs.emplace_back("plug-in", plan.pluginPath);
    checkPaths(outputs, inputs);
}

struct CRunInput {
    CAudioBuffer audio;  // empty when the run only lists
    std::string name = "demo phrase";
};

CRunInput loadInput(const CRunPlan& plan, const CRenderOptions& o)
{
    CRunInput input;
    if (plan.demo) {
        input.audio = makeDemoPhrase(44100);
    }
    else if (plan.renders) {
        input.audio = readAudioFile(o.input);
        input.name = fs::path(o.input).filename().string();
        if (input.audio.repairedSamples > 0 && !o.quiet)
            std::fprintf(stderr,
                         "skorvaline-render: %s: %zu NaN or infinite samples read as silence\n",
                         o.input.c_str(), input.audio.repairedSamples);
    }
    return input;
}

// The output files under temporary names; each is renamed onto its target only in
// commitOutputs, and removed by its destructor on the way out of a failed run.
struct COutputFiles {
    std::unique_ptr<CAudioWriter> audio;
    std::unique_ptr<CTempFile> picture;
    std::unique_ptr<CTempFile> preset;
};

COutputFiles openOutputs(const CRunPlan& plan, const CRenderOptions& o, int sampleRate)
{
    COutputFiles files;
    if (plan.renders)
        files.audio = std::make_unique<CAudioWriter>(plan.outputPath, sampleRate, o.format);
    if (!plan.picturePath.empty())
        files.picture = std::make_unique<CTempFile>(plan.picturePath);
    if (!o.savePreset.empty())
        files.preset = std::make_unique<CTempFile>(o.savePreset);
    return files;
}

void selectProgram(CPluginHost& host, const CRunPlan& plan, const CRenderOptions& o)
{
    std::optional<int> program = o.program;
    if (!program && plan.demo)
        program = kDemoProgram;
    if (!program)
        return;
    if (*program >= host.numPrograms())
        throw CRenderError("--program " + std::to_string(*program) + ": " +
                               plan.pluginPath.string() + " has " +
                               std::to_string(host.numPrograms()) + " programs (0.." +
                               std::to_string(std::max(0, host.numPrograms() - 1)) + ")",
                           2);
    host.setProgram(*program);
}

// Program, preset, filter maps and --set in that order (each may overwrite the one before),
// then the listings, which show the result.
void setUpEffect(CPluginHost& host, const CRunPlan& plan, const CRenderOptions& o)
{
    if ((!o.preset.empty() || !o.savePreset.empty() || !o.mapLeft.empty() || !o.mapRight.empty()) &&
        !host.hasChunks())
        throw CRenderError(plan.pluginPath.string() +
                           ": keeps no state chunk, so --preset, --save-preset, "
                           "--map-left and --map-right cannot be used with it");
    selectProgram(host, plan, o);
    if (!o.preset.empty()) {
        const CPresetChunk chunk = readPresetFile(o.preset, host.uniqueId() == kSkorvalineId);
        if (host.setChunk(chunk.bytes, chunk.program) == 0)
            throw CRenderError(o.preset + ": the plug-in refused this preset");
    }
    if (!o.mapLeft.empty())
        applyFilterMap(host, o.mapLeft, true);
    if (!o.mapRight.empty())
        applyFilterMap(host, o.mapRight, false);
    applySettings(host, o.sets);

    if (o.listPrograms)
        listPrograms(host);
    if (o.listParams)
        listParams(host);
    std::fflush(stdout);
}

struct CRenderResult {
    size_t inputFrames = 0;
    size_t tailFrames = 0;
    CAudioBuffer output;  // kept only when a picture is drawn
    size_t nonFinite = 0;
    double seconds = 0.0;  // wall-clock time of the render

    size_t totalFrames() const { return inputFrames + tailFrames; }
};

// The input, then silence for the tail, one block at a time into the writer (and into
// result.output when it has channels).
void renderBlocks(CPluginHost& host, const CAudioBuffer& input, const CRenderOptions& o,
                  CAudioWriter& writer, CRenderResult& result)
{
    const size_t block = static_cast<size_t>(o.block);
    const size_t total = result.totalFrames();
    std::vector<float> inL(block), inR(block), outL(block), outR(block);
    CProgress progress(!o.quiet && CProgress::stderrIsTerminal(), total, input.sampleRate);
    host.resume();
    for (size_t pos = 0; pos < total;) {
        checkInterrupt();
        const size_t n = std::min(block, total - pos);
        for (size_t i = 0; i < n; ++i) {
            const bool inside = pos + i < result.inputFrames;
            inL[i] = inside ? input.channels[0][pos + i] : 0.0f;
            inR[i] = inside ? input.channels[1][pos + i] : 0.0f;
        }
        host.process(inL.data(), inR.data(), outL.data(), outR.data(), static_cast<int>(n));
        // A NaN would reach the file as a full-scale click (or worse) in integer formats.
        result.nonFinite += silenceNonFinite(outL.data(), n);
        result.nonFinite += silenceNonFinite(outR.data(), n);
        writer.write(outL.data(), outR.data(), n);
        if (!result.output.channels.empty()) {
            std::copy(outL.begin(), outL.begin() + static_cast<long>(n),
                      result.output.channels[0].begin() + static_cast<long>(pos));
            std::copy(outR.begin(), outR.begin() + static_cast<long>(n),
                      result.output.channels[1].begin() + static_cast<long>(pos));
        }
        pos += n;
        progress.update(pos);
    }
    host.suspend();
    progress.finish();
}

CRenderResult renderAudio(CPluginHost& host, const CRunPlan& plan, const CAudioBuffer& input,
                          const CRenderOptions& o, CAudioWriter* writer)
{
    CRenderResult result;
    result.inputFrames = input.frames();
    result.tailFrames =
        plan.renders ? static_cast<size_t>(std::llround(o.tail * input.sampleRate)) : 0;
    result.output.sampleRate = input.sampleRate;
    if (!plan.picturePath.empty())
        result.output.channels.assign(2, std::vector<float>(result.totalFrames(), 0.0f));
    if (plan.renders) {
        const auto start = std::chrono::steady_clock::now();
        renderBlocks(host, input, o, *writer, result);
        result.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    if (result.nonFinite > 0 && !o.quiet)
        std::fprintf(stderr,
                     "skorvaline-render: %s: the plug-in produced %zu NaN or infinite samples; "
                     "written as silence\n",
                     plan.pluginPath.string().c_str(), result.nonFinite);
    return result;
}

// The state after the render, as --save-preset writes it.
std::string savedPresetText(CPluginHost& host, const CRenderOptions& o)
{
    std::string text = stateXml(host);
    if (text.empty())
        throw CRenderError(host.modulePath().string() + ": gave no readable state chunk; " +
                           o.savePreset + " not written");
    if (text.back() != '\n')
        text.push_back('\n');
    return text;
}

// The filter maps the effect holds now, drawn under the waveforms when it gives them as
// image text.
void addFilterMaps(CPluginHost& host, CPictureContent& content)
{
    if (!host.hasChunks())
        return;
    const CPresetSummary state = readFirstPreset(stateXml(host));
    if (!state.valid)
        return;
    const bool left = decodeImageText(state.imageLeft, content.mapLeft);
    const bool right = decodeImageText(state.imageRight, content.mapRight);
    content.mapLeftLabel = mapLabel("Left", state.pathLeft);
    content.mapRightLabel = mapLabel("Right", state.pathRight);
    // Built-in pictures travel as a reference only; the title line names them.
    content.showMaps = left || right;
    if (!content.showMaps)
        content.settings.emplace_back("Filter maps", state.pathLeft + " / " + state.pathRight);
}

std::string drawRunPicture(CPluginHost& host, const CRunPlan& plan, const CRenderOptions& o,
                           const CTransport& transport, const CRunInput& input,
                           const CRenderResult& result)
{
    CPictureContent content;
    content.title = host.effectName() + "  \xE2\x80\x94  program " +
                    std::to_string(host.currentProgram()) + " " + quote(host.programName());
    content.settings = pictureSettings(host, o, transport);
    content.inputLabel = "Input: " + input.name;
    content.outputLabel =
        "Output: " + plan.outputPath.filename().string() + " (" + formatShort(o.tail) + " s tail)";
    content.input = &input.audio;
    content.output = &result.output;
    content.tailStart = result.tailFrames > 0 ? result.inputFrames : 0;
    addFilterMaps(host, content);
    checkInterrupt();
    return drawPicturePng(content);
}

// Every output in place at once, after a last look for an interrupt.
void commitOutputs(COutputFiles& files, const std::string& png, const std::string& presetText)
{
    checkInterrupt();
    if (files.audio)
        files.audio->commit();
    if (files.picture) {
        files.picture->writeAll(png);
        files.picture->commit();
    }
    if (files.preset) {
        files.preset->writeAll(presetText);
        files.preset->commit();
    }
}

// The summary lines; the demo names its files in full, as they land in the current folder.
void reportRun(CPluginHost& host, const CRunPlan& plan, const CRenderOptions& o,
               const CAudioBuffer& input, const CRenderResult& result)
{
    const double seconds = static_cast<double>(result.totalFrames()) / input.sampleRate;
    std::printf("Rendered %s through %s, program %d %s: %s s at %d Hz in %s s (%sx real time)\n",
                plan.demo ? "the demo phrase" : quote(o.input).c_str(), host.effectName().c_str(),
                host.currentProgram(), quote(host.programName()).c_str(),
                formatFixed(seconds, 2).c_str(), input.sampleRate,
                formatFixed(result.seconds, 2).c_str(),
                result.seconds > 0.0 ? formatFixed(seconds / result.seconds, 1).c_str() : "-");
    const auto shown = [&](const fs::path& p) {
        return plan.demo ? fs::absolute(p).string() : p.string();
    };
    std::printf("Wrote %s (%s, stereo)\n", shown(plan.outputPath).c_str(), formatName(o.format));
    if (!plan.picturePath.empty())
        std::printf("Wrote %s\n", shown(plan.picturePath).c_str());
}

}  // namespace

int runRender(const CRenderOptions& o)
{
    const CRunPlan plan = planRun(o);
    checkRunPaths(plan, o);
    // The input, then the output files: an unreadable input or an unwritable folder fails
    // before the render starts.
    const CRunInput input = loadInput(plan, o);
    COutputFiles files = openOutputs(plan, o, input.audio.sampleRate);

    // The effect, loaded and set up as a host does it.
    CTransport transport;
    transport.sampleRate = plan.renders ? input.audio.sampleRate : 44100;
    transport.tempo = o.tempo ? *o.tempo : kDemoTempo;
    CPluginHost host(plan.pluginPath, transport, o.block);
    host.open();
    setUpEffect(host, plan, o);

    const CRenderResult result = renderAudio(host, plan, input.audio, o, files.audio.get());
    // What the effect holds after the render: the saved preset and the picture's maps.
    const std::string presetText = files.preset ? savedPresetText(host, o) : std::string();
    const std::string png =
        files.picture ? drawRunPicture(host, plan, o, transport, input, result) : std::string();
    commitOutputs(files, png, presetText);

    if (!o.quiet && plan.renders)
        reportRun(host, plan, o, input.audio, result);
    if (!o.quiet && files.preset)
        std::printf("Saved the state to %s\n", o.savePreset.c_str());
    return 0;
}

}  // namespace render
