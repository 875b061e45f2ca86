// Builds the PiPL registration resource from the effect's identity table, for
// the Windows resource (little-endian) and the macOS bundle (big-endian).
#pragma once

#include "effect_identity.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ruvivedu {

enum class PiPLPlatform { windows_x64, macos };

/// The PiPL property list. Integers and four-character codes are written in
/// the platform's byte order (so on Windows a code's bytes appear reversed).
/// A property's length field counts its data; the zero bytes that align the
/// next property to 4 bytes are not counted. Strings carry their own zero
/// padding as part of their data, so their lengths are multiples of 4.
class PiPLWriter {
public:
    explicit PiPLWriter(bool little_endian) : little_(little_endian) {}

    void int16(std::uint16_t v)
    {
        if (little_) {
            bytes_.push_back(std::uint8_t(v));
            bytes_.push_back(std::uint8_t(v >> 8));
        } else {
            bytes_.push_back(std::uint8_t(v >> 8));
            bytes_.push_back(std::uint8_t(v));
        }
    }
    void int32(std::uint32_t v)
    {
        if (little_) {
            int16(std::uint16_t(v));
            int16(std::uint16_t(v >> 16));
        } else {
            int16(std::uint16_t(v >> 16));
            int16(std::uint16_t(v));
        }
    }
    void property(std::uint32_t key, const std::vector<std::uint8_t>& data)
    {
        int32(kVendorCode);
        int32(key);
        int32(0);  // property id
        int32(std::uint32_t(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        while (bytes_.size() % 4 != 0)
            bytes_.push_back(0);
        ++count_;
    }
    std::vector<std::uint8_t> data_int32(std::uint32_t v) const
    {
        PiPLWriter w(little_);
        w.int32(v);
        return w.bytes_;
    }
    std::vector<std::uint8_t> data_int16_pair(std::uint16_t a, std::uint16_t b) const
    {
        PiPLWriter w(little_);
        w.int16(a);
        w.int16(b);
        return w.bytes_;
    }
    std::vector<std::uint8_t> data_int16(std::uint16_t a) const
    {
        PiPLWriter w(little_);
        w.int16(a);
        return w.bytes_;
    }
    /// Length byte, characters, zeros up to a multiple of 4.
    static std::vector<std::uint8_t> pascal_string(const std::string& s)
    {
        std::vector<std::uint8_t> out((s.size() + 1 + 3) / 4 * 4, 0);
        out[0] = std::uint8_t(s.size());
        for (std::size_t i = 0; i < s.size(); ++i)
            out[i + 1] = std::uint8_t(s[i]);
        return out;
    }
    /// Characters, at least one terminating zero, zeros up to a multiple of 4.
    static std::vector<std::uint8_t> c_string(const std::string& s)
    {
        std::vector<std::uint8_t> out((s.size() + 1 + 3) / 4 * 4, 0);
        for (std::size_t i = 0; i < s.size(); ++i)
            out[i] = std::uint8_t(s[i]);
        return out;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::uint32_t count() const { return count_; }

private:
    bool little_;
    std::uint32_t count_ = 0;
    std::vector<std::uint8_t> bytes_;
};

/// The whole resource: header then properties. Windows carries a 16-bit
/// version word of 1 before the reserved word; the Mac resource starts with
/// the reserved word. The Mac code properties are Pascal strings, one per
/// architecture; the Windows one is a zero-terminated string.
inline std::vector<std::uint8_t> build_pipl(PiPLPlatform platform)
{
    const bool little = platform == PiPLPlatform::windows_x64;
    PiPLWriter props(little);
    props.property(four_char_code("kind"), props.data_int32(kEffectKind));
    props.property(four_char_code("name"), PiPLWriter::pascal_string(kDisplayName));
    props.property(four_char_code("catg"), PiPLWriter::pascal_string(kCategory));
    if (platform == PiPLPlatform::windows_x64) {
        props.property(four_char_code("8664"), PiPLWriter::c_string(kPiPLEntryName));
    } else {
        props.property(four_char_code("mi64"), PiPLWriter::pascal_string(kPiPLEntryName));
        props.property(four_char_code("ma64"), PiPLWriter::pascal_string(kPiPLEntryName));
    }
    props.property(four_char_code("ePVR"), props.data_int16_pair(kPiPLVersionMajor, kPiPLVersionMinor));
    props.property(four_char_code("eSVR"), props.data_int16_pair(kApiVersionMajor, kApiVersionMinor));
    props.property(four_char_code("eVER"), props.data_int32(kEffectVersion));
    props.property(four_char_code("eINF"), props.data_int16(0));
    props.property(four_char_code("eGLO"), props.data_int32(kGlobalOutFlags));
    props.property(four_char_code("eGL2"), props.data_int32(kGlobalOutFlags2));
    props.property(four_char_code("eMNA"), PiPLWriter::pascal_string(kMatchName));
    props.property(four_char_code("aeFL"), props.data_int32(kPiPLReservedInfo));

    PiPLWriter head(little);
    if (platform == PiPLPlatform::windows_x64)
        head.int16(1);
    head.int32(0);
    head.int32(props.count());
    std::vector<std::uint8_t> out = head.bytes();
    out.insert(out.end(), props.bytes().begin(), props.bytes().end());
    return out;
}

/// The Rez source of the macOS resource: `bytes` as a raw `data` statement
/// of type 'PiPL', id 16000, in hex strings (no SDK templates needed).
inline std::string rez_source(const std::vector<std::uint8_t>& bytes)
{
    // Rez takes raw resource data as hex strings; 16 bytes a line.
    std::string text = "// Generated from the effect's identity table; do not edit.\n"
                       "// PiPL for the macOS bundle, big-endian, one code property per architecture.\n"
                       "data 'PiPL' (16000) {\n";
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); i += 16) {
        text += "\t$\"";
        for (std::size_t j = i; j < bytes.size() && j < i + 16; ++j) {
            std::snprintf(buf, sizeof buf, "%02X", bytes[j]);
            text += buf;
            if (j + 1 < bytes.size() && j + 1 < i + 16)
                text += ' ';
        }
        text += "\"\n";
    }
    text += "};\n";
    return text;
}

}  // namespace ruvivedu
