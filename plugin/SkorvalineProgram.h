// One of the effect's sixteen programs, and the version-1 binary record older hosts still hand
// back as state. A program holds the 53 normalised values, the tempo last seen, per channel the
// filter-map reference ("#n" for built-in picture n, otherwise a file path) with the picture
// as image text, and the name.
#pragma once

#include "plugin/HostCallbacks.h"
#include "plugin/ParameterTable.h"

#include <cstddef>
#include <cstdint>
#include <string>

class fxSkorvalineProgram {
public:
    static constexpr int kNumValues = skv::kNumParams;  // 53
    static constexpr std::size_t kPathSize = 260;       // 259 characters and the zero
    static constexpr std::size_t kNameSize = 24;        // 23 characters and the zero
    static constexpr float kCurrentVersion = 1.2f;
    static constexpr float kVersion1 = 1.0f;
    /// The tempo a program starts with; the effect overwrites it at each tempo update.
    static constexpr float kDefaultTempo = static_cast<float>(skv::kDefaultTempo);

    /// The parameter defaults, both references "#0", no image text, name "Default".
    fxSkorvalineProgram();
    virtual ~fxSkorvalineProgram() = default;
    fxSkorvalineProgram(const fxSkorvalineProgram&) = default;
    fxSkorvalineProgram& operator=(const fxSkorvalineProgram&) = default;

    virtual float getVersion() const { return version; }
    virtual void setVersion(float v) { version = v; }
    virtual void setTempo(float bpm) { tempo = bpm; }
    virtual float getTempo() const { return tempo; }
    /// Copies at most 23 bytes, never cutting a UTF-8 character in two.
    virtual void setName(const char* text);
    virtual std::string getName() const { return name; }
    /// Copies at most 259 bytes into the channel's reference.
    virtual void setPath(const char* text, bool left);
    virtual std::string getPath(bool left) const { return left ? pathL : pathR; }
    /// 0 for an index outside 0..52.
    virtual float getValue(int index) const;
    /// Ignored for an index outside 0..52.
    virtual void setValue(int index, float value);

    /// The channel's image text (Base64 of the picture), empty when none is held.
    const std::string& getImage(bool left) const { return left ? imageL : imageR; }
    void setImage(bool left, std::string text) { (left ? imageL : imageR) = std::move(text); }

    float version = kCurrentVersion;
    float values[kNumValues];
    float tempo = kDefaultTempo;
    char pathL[kPathSize];
    std::string imageL;
    char pathR[kPathSize];
    std::string imageR;
    char name[kNameSize];
};

/// The 624-byte little-endian program record of version 1, decoded field by field from bytes
/// (never by casting the buffer, whose alignment and byte order are the host's).
struct fxSkorvalineProgramV1 {
    static constexpr std::size_t kSize = 624;
    static constexpr std::size_t kBankSize = 16 * kSize;  // 9984
    static constexpr int kNumFloats = 47;                 // offsets 0 to 187
    static constexpr std::size_t kPathOffsetL = 188;
    static constexpr std::size_t kPathOffsetR = 388;
    static constexpr std::size_t kPathChars = 200;
    static constexpr std::size_t kNameOffset = 600;
    static constexpr std::size_t kNameChars = 24;

    /// Reads a record from kSize bytes at data.
    static fxSkorvalineProgramV1 decode(const unsigned char* data);

    /// Into a current program: the values through the offset table (unlisted indices 0, the
    /// two Analysis Warp values 0.6), both references, the name, version 1.0, both image texts
    /// emptied; the tempo stays. Values outside 0..1 (or NaN) are brought into range.
    void applyTo(fxSkorvalineProgram& program) const;

    float floats[kNumFloats] = {};
    std::string pathL;
    std::string pathR;
    std::string name;
};
