// The input format of the info target: what a module answers when a host
// asks who it is, then the PiPL bytes stored beside it. Read and written
// here, so that seeds made from the real module and the fuzzer that reads
// them cannot disagree. Every field is optional: input that ends early reads
// as zeros and empty strings.
//
//   u8  which registration strings are NULL (bit 0 name .. bit 3 entry point)
//   4 x string  name, match name, category, entry point name
//   5 x u32     kind, API major, API minor, reserved info, callback result
//   string      ABOUT text;  u32 ABOUT result
//   4 x u32     my_version, out_flags, out_flags2, GLOBAL_SETUP result
//   u8          parameter count (modulo 9), then per parameter the definition's
//               bytes as add_param receives them and a string (popup choices
//               or checkbox label)
//   2 x u32     num_params, PARAMS_SETUP result
//   u8          whether a PiPL was found, then the PiPL bytes to the end
//
// Strings end at a NUL byte; u32 values are little-endian.
#pragma once

#include "host_api.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace effect_script {

struct Param {
    PF_ParamDef def{};
    std::string text;  ///< choices of a popup, label of a checkbox
};

struct Script {
    std::uint8_t null_strings = 0;
    std::string name, match_name, category, entry_name;
    std::uint32_t kind = 0, api_major = 0, api_minor = 0, reserved_info = 0, registration_result = 0;
    std::string about_text;
    std::uint32_t about_result = 0;
    std::uint32_t my_version = 0, out_flags = 0, out_flags2 = 0, global_setup_result = 0;
    std::vector<Param> params;
    std::uint32_t num_params = 0, params_setup_result = 0;
    bool pipl_found = false;
    std::vector<std::uint8_t> pipl;
};

constexpr std::size_t kMaxParams = 8;

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t u32()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= std::uint32_t(byte()) << (8 * i);
        return value;
    }
    std::string string()
    {
        std::string text;
        while (at_ < size_ && data_[at_] != 0)
            text += char(data_[at_++]);
        if (at_ < size_)
            ++at_;  // the NUL
        return text;
    }
    void bytes(void* out, std::size_t length)
    {
        std::memset(out, 0, length);
        const std::size_t have = std::min(length, size_ - at_);
        std::memcpy(out, data_ + at_, have);
        at_ += have;
    }
    std::vector<std::uint8_t> rest() { return std::vector<std::uint8_t>(data_ + at_, data_ + size_); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

inline Script read(const std::uint8_t* data, std::size_t size)
{
    Reader in(data, size);
    Script s;
    s.null_strings = in.byte();
    s.name = in.string();
    s.match_name = in.string();
    s.category = in.string();
    s.entry_name = in.string();
    s.kind = in.u32();
    s.api_major = in.u32();
    s.api_minor = in.u32();
    s.reserved_info = in.u32();
    s.registration_result = in.u32();
    s.about_text = in.string();
    s.about_result = in.u32();
    s.my_version = in.u32();
    s.out_flags = in.u32();
    s.out_flags2 = in.u32();
    s.global_setup_result = in.u32();
    s.params.resize(in.byte() % (kMaxParams + 1));
    for (Param& p : s.params) {
        in.bytes(&p.def, sizeof p.def);
        p.text = in.string();
    }
    s.num_params = in.u32();
    s.params_setup_result = in.u32();
    s.pipl_found = in.byte() != 0;
    s.pipl = in.rest();
    return s;
}

inline std::vector<std::uint8_t> write(const Script& s)
{
    std::vector<std::uint8_t> out;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.push_back(std::uint8_t(v >> (8 * i)));
    };
    auto string = [&](const std::string& text) {
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
    };
    out.push_back(s.null_strings);
    for (const std::string* text : {&s.name, &s.match_name, &s.category, &s.entry_name})
        string(*text);
    for (std::uint32_t v : {s.kind, s.api_major, s.api_minor, s.reserved_info, s.registration_result})
        u32(v);
    string(s.about_text);
    u32(s.about_result);
    for (std::uint32_t v : {s.my_version, s.out_flags, s.out_flags2, s.global_setup_result})
        u32(v);
    out.push_back(std::uint8_t(s.params.size()));
    for (const Param& p : s.params) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&p.def);
        out.insert(out.end(), bytes, bytes + sizeof p.def);
        string(p.text);
    }
    u32(s.num_params);
    u32(s.params_setup_result);
    out.push_back(s.pipl_found ? 1 : 0);
    out.insert(out.end(), s.pipl.begin(), s.pipl.end());
    return out;
}

}  // namespace effect_script
