// Programs and the plug-in state: selecting a program, loading a channel's filter map from its
// reference or from the picture the program carries, and the state chunk. The chunk is the
// preset bank document (one preset per program, pictures as Base64 image text), zlib-compressed
// when config.xml asks for it; binary version-1 program records are still read.
//
// Everything here runs on the host's user-interface thread. A chunk is decoded completely
// into copies of the programs before any program changes, so a chunk that fails to load in any
// way leaves the whole state as it was. The bank store is shared by every instance, and hosts
// save and restore states on several threads at once: each use holds the store's lock.
#include "plugin/Skorvaline.h"

#include "config/BankStore.h"
#include "config/Config.h"
#include "filtermap/BitmapArrayAnalyser.h"
#include "filtermap/FilterMapConfig.h"
#include "plugin/HostCallbacks.h"
#include "plugin/ParameterTable.h"
#include "resources/BuiltInResources.h"
#include "vst/VstText.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* kPluginVersion = "1.2";
constexpr const char* kBitmapEntry[2] = {"Bitmap L", "Bitmap R"};

// zlib works through the text in pieces of this size, in and out.
constexpr std::size_t kZipPiece = 16384;
// Largest state a chunk may unpack to: the most a bank document may hold. A zip bomb stops
// here instead of taking the host's memory.
constexpr std::size_t kMaxStateBytes = CBankStore::kMaxDocumentBytes;

// A stored tempo outside (0, kMaxProgramTempo] is taken as the default tempo.
constexpr float kMaxProgramTempo = 10000.0f;
// "#n" beyond this names no picture of ours; kept small so 10000 + n cannot overflow.
constexpr long kMaxBuiltInNumber = 1000000;

bool isLeftChannel(int channel)
{
    return channel == skv::kParamFilterLSelect;
}

// "#n" names built-in picture n; anything else is a file path.
bool isBuiltInReference(const std::string& reference)
{
    return !reference.empty() && reference[0] == '#';
}

// Resource number of a "#n" reference; -1 (no such resource) when n is not a number in range.
int builtInResourceNumber(const std::string& reference)
{
    const char* digits = reference.c_str() + 1;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(digits, &end, 10);
    if (end == digits || errno == ERANGE || n < 0 || n > kMaxBuiltInNumber) {
        return -1;
    }
    return kfx::kBuiltInResourceBase + static_cast<int>(n);
}

bool fileExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::u8path(path), error);
}

// Compresses size bytes at text with a zlib header and checksum, level 9.
bool deflateText(const unsigned char* text, std::size_t size, std::vector<unsigned char>& out)
{
    z_stream stream{};
    if (deflateInit(&stream, 9) != Z_OK) {
        return false;
    }
    out.clear();
    unsigned char piece[kZipPiece];
    std::size_t fed = 0;
    int result = Z_OK;
    do {
        const std::size_t take = std::min(kZipPiece, size - fed);
        stream.next_in = const_cast<Bytef*>(text + fed);
        stream.avail_in = static_cast<uInt>(take);
        fed += take;
        const int flush = fed == size ? Z_FINISH : Z_NO_FLUSH;
        do {
            stream.next_out = piece;
            stream.avail_out = kZipPiece;
            result = deflate(&stream, flush);
            if (result == Z_STREAM_ERROR) {
                deflateEnd(&stream);
                return false;
            }
            out.insert(out.end(), piece, piece + (kZipPiece - stream.avail_out));
        } while (stream.avail_out == 0);
    } while (fed < size);
    deflateEnd(&stream);
    return result == Z_STREAM_END;
}

// Inflates a complete zlib stream into text; false for anything else (not zlib, damaged,
// truncated, or larger than kMaxStateBytes).
bool inflateChunk(const unsigned char* data, std::size_t size, std::string& text)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        return false;
    }
    text.clear();
    unsigned char piece[kZipPiece];
    std::size_t fed = 0;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (fed == size) {
                break;  // the data ended before the stream did
            }
            const std::size_t take = std::min(kZipPiece, size - fed);
            stream.next_in = const_cast<Bytef*>(data + fed);
            stream.avail_in = static_cast<uInt>(take);
            fed += take;
        }
        stream.next_out = piece;
        stream.avail_out = kZipPiece;
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            break;
        }
        const std::size_t produced = kZipPiece - stream.avail_out;
        if (text.size() + produced > kMaxStateBytes) {
            result = Z_MEM_ERROR;
            break;
        }
        text.append(reinterpret_cast<const char*>(piece), produced);
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

// The two header bytes of a zlib stream: deflate, a window of at most 32 KiB, check bits.
bool hasZlibHeader(const unsigned char* data, std::size_t size)
{
    return size >= 2 && (data[0] & 0x0F) == 8 && (data[0] >> 4) <= 7 &&
           ((unsigned(data[0]) << 8) | data[1]) % 31 == 0;
}

// The document text ends at its terminating zero, if the chunk carries one.
std::string_view documentText(const char* data, std::size_t size)
{
    const void* zero = std::memchr(data, 0, size);
    return std::string_view(data, zero ? static_cast<const char*>(zero) - data : size);
}

}  // namespace

// ---- programs ------------------------------------------------------------------------------

void fxSkorvaline::setProgram(VstInt32 program)
{
    if (program < 0 || program >= kNumPrograms || !programs) {
        return;
    }
    captureEngineValues();
    selectProgram(program);
}

void fxSkorvaline::selectProgram(VstInt32 program)
{
    if (program < 0 || program >= kNumPrograms || !programs) {
        return;
    }
    curProgram = program;
    const float stored = currentProgram().getTempo();
    tempoState.store(
        tempoFor((stored > 0.0f && stored <= kMaxProgramTempo) ? stored : skv::kDefaultTempo));
    // Through the virtual setParameter, so each value also reaches the editor.
    for (VstInt32 i = 0; i < kNumParams; ++i) {
        setParameter(i, currentProgram().getValue(i));
    }
    // Copies: loadFilterMap rewrites the program's reference fields.
    const std::string pathL = currentProgram().getPath(true);
    const std::string pathR = currentProgram().getPath(false);
    loadFilterMap(pathL.c_str(), skv::kParamFilterLSelect, false);
    loadFilterMap(pathR.c_str(), skv::kParamFilterRSelect, false);
}

// ---- filter maps ---------------------------------------------------------------------------

void fxSkorvaline::loadFilterMap(const char* reference, int channel, bool clearText)
{
    const bool left = isLeftChannel(channel);
    kfx::CBitmapArrayAnalyser* map = filterMapInfo(left);
    if (!programs || !map) {
        return;
    }
    fxSkorvalineProgram& program = currentProgram();
    // The reference may point into the program's own field, which setPath rewrites.
    const std::string ref = reference ? reference : "";

    if (clearText) {
        program.setImage(left, std::string());
    }
    const int first = left ? skv::kParamLStartLoop : skv::kParamRStartLoop;
    map->setLoopStart(program.getValue(first));
    map->setLoopStop(program.getValue(first + 1));
    map->setScanIndex(program.getValue(first + 3));
    map->setVerticalOffset(program.getValue(first + 2));

    program.setPath(ref.c_str(), left);
    const bool builtIn = isBuiltInReference(ref);
    const bool hasImage = !program.getImage(left).empty();
    // A file that has gone keeps the previous picture, unless the program carries the picture
    // itself: then the state restores it wherever the file went.
    if (!builtIn && ref.size() > 1 && !hasImage && !fileExists(ref)) {
        return;
    }
    if (!hasImage && !ref.empty()) {
        if (builtIn) {
            map->loadFromResource(&skv::CBuiltInResources::instance(), builtInResourceNumber(ref));
        }
        else {
            map->loadFromFile(ref);
        }
        int width = 0;
        int height = 0;
        program.setImage(left, map->encodeImage(width, height));
    }
    else {
        map->decodeImage(program.getImage(left), 0, 0);
    }
    filterMapLoaded(ref.c_str(), channel);
}

void fxSkorvaline::getFilterMap(std::shared_ptr<kfx::CBitmapArrayAnalyser>& holder, int channel)
{
    holder = engine.filterMaps[isLeftChannel(channel) ? 0 : 1];
}

void fxSkorvaline::getFilterMapPath(char* text, int channel)
{
    if (!text) {
        return;
    }
    const std::string path = programs ? currentProgram().getPath(isLeftChannel(channel)) : "";
    skv::copyText(text, path, fxSkorvalineProgram::kPathSize - 1);
}

void fxSkorvaline::storeFilterMapImage(int channel)
{
    const bool left = isLeftChannel(channel);
    kfx::CBitmapArrayAnalyser* map = filterMapInfo(left);
    if (!programs || !map || !map->isModified()) {
        return;
    }
    int width = 0;
    int height = 0;
    currentProgram().setImage(left, map->encodeImage(width, height));
    currentProgram().setPath("", left);
}

void fxSkorvaline::releaseShared(std::shared_ptr<kfx::CBitmapArrayAnalyser> holder)
{
    holder.reset();
}

// ---- the bank document ---------------------------------------------------------------------

// Part of getChunk, which holds the store's lock around it.
void fxSkorvaline::writeProgramXml(VstInt32 index)
{
    if (!programs || index < 0 || index >= kNumPrograms) {
        return;
    }
    const fxSkorvalineProgram& program = programs[index];
    CBankStore& store = CBankStore::instance();
    std::shared_ptr<CPreset> preset =
        store.newPreset(kProductName, kPluginVersion, program.getName());
    for (int c = 0; c < 2; ++c) {
        const bool left = c == 0;
        const std::string path = program.getPath(left);
        CBankStore::setText(*preset, kBitmapEntry[c], "path", path);
        // Built-in pictures are found again by number; anything else travels as its picture.
        if (!isBuiltInReference(path)) {
            CBankStore::setText(*preset, kBitmapEntry[c], "base64", program.getImage(left));
        }
    }
    for (int i = 0; i < kNumParams; ++i) {
        CBankStore::setNumber(*preset, skv::parameterName(i), "value", program.getValue(i));
    }
    store.addPreset(preset);
}

void fxSkorvaline::readPresetInto(const CPreset& preset, fxSkorvalineProgram& program)
{
    if (preset.plugin != kProductName) {
        return;
    }
    program.setName(preset.name.c_str());
    for (int c = 0; c < 2; ++c) {
        const bool left = c == 0;
        program.setPath(CBankStore::get(preset, kBitmapEntry[c], "path").c_str(), left);
        program.setImage(left, CBankStore::get(preset, kBitmapEntry[c], "base64"));
    }
    for (int i = 0; i < kNumParams; ++i) {
        const std::string text = CBankStore::get(preset, skv::parameterName(i), "value");
        // A hand-edited or foreign number must not carry NaN or a value outside 0..1 further.
        program.setValue(i, skv::sanitizeNormalised(static_cast<float>(parseNumber(text))));
    }
}

void fxSkorvaline::readProgramXml(VstInt32 index)
{
    if (!programs || index < 0 || index >= kNumPrograms) {
        return;
    }
    CBankStore& store = CBankStore::instance();
    const auto lock = store.lock();
    const std::shared_ptr<CPreset> preset = store.presetByIndex(index);
    if (preset) {
        readPresetInto(*preset, programs[index]);
    }
}

// ---- state chunks --------------------------------------------------------------------------

VstInt32 fxSkorvaline::getChunk(void** data, bool isPreset)
{
    if (!data || !programs) {
        return 0;
    }
    *data = nullptr;
    captureEngineValues();
    CBankStore& store = CBankStore::instance();
    std::string text;
    try {
        const auto lock = store.lock();
        store.clearBanks();
        if (isPreset) {
            writeProgramXml(curProgram);
        }
        else {
            for (VstInt32 i = 0; i < kNumPrograms; ++i) {
                writeProgramXml(i);
            }
        }
        text = store.save();
    }
    catch (const std::exception&) {
        return 0;
    }
    // The terminating zero is part of the chunk, compressed or not.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    const std::size_t size = text.size() + 1;
    if (CConfig::get().getZipPresets()) {
        if (!deflateText(bytes, size, chunk)) {
            return 0;
        }
    }
    else {
        chunk.assign(bytes, bytes + size);
    }
    if (chunk.size() > static_cast<std::size_t>(INT32_MAX)) {
        return 0;
    }
    *data = chunk.data();
    return static_cast<VstInt32>(chunk.size());
}

bool fxSkorvaline::decodeChunk(const unsigned char* data, std::size_t size, bool isPreset,
                               std::vector<fxSkorvalineProgram>& scratch)
{
    std::string inflated;
    std::string_view document;
    if (inflateChunk(data, size, inflated)) {
        document = documentText(inflated.data(), inflated.size());
    }
    else if (size >= 7 && std::memcmp(data, "<?xml", 5) == 0) {
        document = documentText(reinterpret_cast<const char*>(data), size);
    }
    else {
        // Binary version-1 records: one for a program, exactly sixteen for a bank. A program chunk
        // shorter than a record cannot be read without inventing the rest, so it is refused.
        // Compressed data that did not unpack (damaged, cut short, or too large) is refused too,
        // unless it has exactly the size of version-1 data, whose first float may happen to
        // begin like a zlib header.
        const std::size_t v1Size =
            isPreset ? fxSkorvalineProgramV1::kSize : fxSkorvalineProgramV1::kBankSize;
        if (hasZlibHeader(data, size) && size != v1Size) {
            return false;
        }
        if (isPreset) {
            if (size < fxSkorvalineProgramV1::kSize) {
                return false;
            }
            fxSkorvalineProgramV1::decode(data).applyTo(scratch[curProgram]);
            return true;
        }
        if (size != fxSkorvalineProgramV1::kBankSize) {
            return false;
        }
        for (int i = 0; i < kNumPrograms; ++i) {
            fxSkorvalineProgramV1::decode(data + i * fxSkorvalineProgramV1::kSize)
                .applyTo(scratch[i]);
        }
        return true;
    }

    CBankStore& store = CBankStore::instance();
    const auto lock = store.lock();
    try {
        store.load(document);
    }
    catch (const std::exception&) {
        return false;
    }
    if (isPreset) {
        if (const auto preset = store.presetByIndex(curProgram)) {
            readPresetInto(*preset, scratch[curProgram]);
        }
    }
    else {
        for (int i = 0; i < kNumPrograms; ++i) {
            if (const auto preset = store.presetByIndex(i)) {
                readPresetInto(*preset, scratch[i]);
            }
        }
    }
    // The programs have their copies; the process-wide store need not keep the pictures.
    store.clearBanks();
    return true;
}

VstInt32 fxSkorvaline::setChunk(void* data, VstInt32 byteSize, bool isPreset)
{
    if (!programs || !data || byteSize <= 0) {
        return 0;
    }
    std::vector<fxSkorvalineProgram> scratch(programs, programs + kNumPrograms);
    if (!decodeChunk(static_cast<const unsigned char*>(data), static_cast<std::size_t>(byteSize),
                     isPreset, scratch)) {
        return 0;
    }
    std::copy(scratch.begin(), scratch.end(), programs);
    // The restored programs are taken as they are: nothing of the engine's values before the
    // chunk may overwrite them.
    selectProgram(curProgram);
    return 1;
}
