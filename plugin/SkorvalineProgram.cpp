// Program records (values, names, filter-map references and pictures) and the reader of the
// version-1 binary record that older hosts still hand back as state.
#include "plugin/SkorvalineProgram.h"

#include "filtermap/LittleEndian.h"

#include <cstring>

namespace {
// Copies text into a fixed field of `size` bytes: cleared first, at most size - 1 bytes
// taken, and the cut moved back so that no UTF-8 sequence is split.
void copyField(char* field, std::size_t size, const char* text)
{
    std::memset(field, 0, size);
    if (text == nullptr)
        return;
    std::size_t n = ::strnlen(text, size);
    if (n >= size) {
        // text[n] is the first byte left out; when it continues a character, leave out the
        // whole character.
        n = size - 1;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(field, text, n);
}

float readFloatLE(const unsigned char* p)
{
    const std::uint32_t bits = kfx::getU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string readText(const unsigned char* p, std::size_t capacity)
{
    const void* zero = std::memchr(p, 0, capacity);
    const std::size_t n = zero ? static_cast<const unsigned char*>(zero) - p : capacity;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Program index of each float of a version-1 record, -1 for the one that is not read.
constexpr int kV1Index[fxSkorvalineProgramV1::kNumFloats] = {
    0,  1,  2,  3,  4,  5,  6,  7,   // offset 0: indices 0 to 7
    9,  8,                           // offsets 32, 36: 9 and 8 swapped
    40,                              // 40
    10, 11, 12, 13, 14, 15,          // 44
    24, 25,                          // 68
    16, 17, 18, 19, 20, 21, 22, 23,  // 76
    27, 28, 29, 30,                  // 108
    32, 33, 34, 35, 36, 37,          // 124
    47,                              // 148
    -1,                              // 152: a Sync Scan the record never had; 48 becomes 0
    49, 50,                          // 156
    41, 42, 43, 44,                  // 164
    38, 39,                          // 180
};
}  // namespace

fxSkorvalineProgram::fxSkorvalineProgram()
{
    for (int i = 0; i < kNumValues; ++i)
        values[i] = skv::parameterDefault(i);
    copyField(pathL, kPathSize, "#0");
    copyField(pathR, kPathSize, "#0");
    copyField(name, kNameSize, "Default");
}

void fxSkorvalineProgram::setName(const char* text)
{
    copyField(name, kNameSize, text);
}

void fxSkorvalineProgram::setPath(const char* text, bool left)
{
    copyField(left ? pathL : pathR, kPathSize, text);
}

float fxSkorvalineProgram::getValue(int index) const
{
    return (index >= 0 && index < kNumValues) ? values[index] : 0.0f;
}

void fxSkorvalineProgram::setValue(int index, float value)
{
    if (index >= 0 && index < kNumValues)
        values[index] = value;
}

fxSkorvalineProgramV1 fxSkorvalineProgramV1::decode(const unsigned char* data)
{
    fxSkorvalineProgramV1 record;
    for (int i = 0; i < kNumFloats; ++i)
        record.floats[i] = readFloatLE(data + 4 * i);
    record.pathL = readText(data + kPathOffsetL, kPathChars);
    record.pathR = readText(data + kPathOffsetR, kPathChars);
    record.name = readText(data + kNameOffset, kNameChars);
    return record;
}

void fxSkorvalineProgramV1::applyTo(fxSkorvalineProgram& program) const
{
    for (float& value : program.values)
        value = 0.0f;
    for (int i = 0; i < kNumFloats; ++i)
        if (kV1Index[i] >= 0)
            program.values[kV1Index[i]] = skv::sanitizeNormalised(floats[i]);
    program.values[skv::kParamLAnalysisWarp] = 0.6f;
    program.values[skv::kParamRAnalysisWarp] = 0.6f;
    program.setPath(pathL.c_str(), true);
    program.setPath(pathR.c_str(), false);
    program.setName(name.c_str());
    program.imageL.clear();
    program.imageR.clear();
    program.version = fxSkorvalineProgram::kVersion1;
}
