// A reader for the parts of a 64-bit Windows module (PE32+) a host relies on:
// its export table, its imported DLLs and its resource directory.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ruvivedu::pe {

/// A malformed or unsupported file; the text says what and where.
struct PeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Export {
    std::string name;
    std::uint32_t rva = 0;
    bool forwarded = false;  ///< the address points into the export table: a forwarder string
};

/// One leaf of the resource tree: type / name / language.
struct Resource {
    std::string type;  ///< the type's name ("PIPL"), or "#<id>" for a numbered type
    std::string name;  ///< likewise: "#16000" for resource id 16000
    std::uint16_t language = 0;
    std::vector<std::uint8_t> data;
};

struct PeFile {
    std::uint16_t machine = 0;
    bool is_dll = false;
    std::vector<Export> exports;       ///< in name order, as the table holds them
    std::vector<std::string> imports;  ///< DLL names, in table order
    std::vector<Resource> resources;
};

constexpr std::uint16_t kMachineAmd64 = 0x8664;

/// Parses a PE32+ image held in `bytes`. Throws PeError.
PeFile read_pe(const std::vector<std::uint8_t>& bytes);

/// Reads and parses the file at `path`. Throws PeError.
PeFile read_pe_file(const std::string& path);

}  // namespace ruvivedu::pe
