// PE32+ headers, export table, import directory and resource tree.
#include "pe_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace ruvivedu::pe {

namespace {

/// Bounds-checked little-endian reads and RVA translation through the
/// section table.
class Image {
public:
    explicit Image(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

    std::uint16_t u16(std::size_t at) const
    {
        need(at, 2);
        return std::uint16_t(bytes_[at] | bytes_[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const { return std::uint32_t(u16(at)) | std::uint32_t(u16(at + 2)) << 16; }
    void need(std::size_t at, std::size_t length) const
    {
        if (at > bytes_.size() || length > bytes_.size() - at)
            throw PeError("offset " + std::to_string(at) + " + " + std::to_string(length) +
                          " lies past the end of the file");
    }
    const std::uint8_t* at(std::size_t offset, std::size_t length) const
    {
        need(offset, length);
        return bytes_.data() + offset;
    }

    struct Section {
        std::uint32_t virtual_address, virtual_size, raw_offset, raw_size;
    };
    void add_section(const Section& s) { sections_.push_back(s); }

    /// The file offset of `length` bytes at virtual address `rva`.
    std::size_t offset(std::uint32_t rva, std::size_t length = 1) const
    {
        for (const Section& s : sections_) {
            const std::uint32_t size = std::max(s.virtual_size, s.raw_size);
            if (rva >= s.virtual_address && rva - s.virtual_address < size) {
                const std::size_t delta = rva - s.virtual_address;
                if (delta + length > s.raw_size)
                    throw PeError("address " + std::to_string(rva) + " runs past its section's data");
                const std::size_t file_offset = std::size_t(s.raw_offset) + delta;
                need(file_offset, length);
                return file_offset;
            }
        }
        throw PeError("address " + std::to_string(rva) + " lies in no section");
    }

    std::string c_string(std::uint32_t rva) const
    {
        std::size_t at = offset(rva);
        std::string text;
        while (true) {
            need(at, 1);
            if (bytes_[at] == 0)
                return text;
            if (text.size() > 4096)
                throw PeError("unterminated name at address " + std::to_string(rva));
            text += char(bytes_[at++]);
        }
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::vector<Section> sections_;
};

struct Directory {
    std::uint32_t rva = 0, size = 0;
};

std::vector<Export> read_exports(const Image& image, Directory dir)
{
    std::vector<Export> exports;
    if (dir.rva == 0)
        return exports;
    const std::size_t table = image.offset(dir.rva, 40);
    const std::uint32_t function_count = image.u32(table + 20);
    const std::uint32_t name_count = image.u32(table + 24);
    const std::uint32_t functions = image.u32(table + 28);
    const std::uint32_t names = image.u32(table + 32);
    const std::uint32_t ordinals = image.u32(table + 36);
    if (name_count > 65536 || function_count > 65536)
        throw PeError("implausible export counts");
    for (std::uint32_t i = 0; i < name_count; ++i) {
        Export entry;
        entry.name = image.c_string(image.u32(image.offset(names + 4 * i, 4)));
        const std::uint16_t index = image.u16(image.offset(ordinals + 2 * i, 2));
        if (index >= function_count)
            throw PeError("export '" + entry.name + "' names function " + std::to_string(index) + " of " +
                          std::to_string(function_count));
        entry.rva = image.u32(image.offset(functions + 4 * index, 4));
        entry.forwarded = entry.rva >= dir.rva && entry.rva - dir.rva < dir.size;
        exports.push_back(entry);
    }
    return exports;
}

std::vector<std::string> read_imports(const Image& image, Directory dir)
{
    std::vector<std::string> dlls;
    if (dir.rva == 0)
        return dlls;
    for (std::uint32_t at = dir.rva;; at += 20) {
        const std::size_t descriptor = image.offset(at, 20);
        bool empty = true;
        for (int i = 0; i < 20; i += 4)
            empty = empty && image.u32(descriptor + std::size_t(i)) == 0;
        if (empty)
            return dlls;
        if (dlls.size() > 4096)
            throw PeError("the import directory has no end");
        dlls.push_back(image.c_string(image.u32(descriptor + 12)));
    }
}

/// Walks the three levels of the resource tree (type, name, language).
class ResourceWalker {
public:
    ResourceWalker(const Image& image, Directory dir) : image_(image), root_(dir.rva) {}

    std::vector<Resource> walk()
    {
        std::vector<Resource> out;
        if (root_ == 0)
            return out;
        for (const Entry& type : entries(0))
            for (const Entry& name : entries(subdirectory(type.value)))
                for (const Entry& language : entries(subdirectory(name.value))) {
                    const std::uint32_t leaf = language.value;
                    if (leaf & 0x80000000u)
                        throw PeError("the resource tree is deeper than type / name / language");
                    // Languages are numbered (1033 is U.S. English); a host
                    // looks a resource up by that number, never by a name.
                    if (language.named)
                        throw PeError("resource " + type.text + " / " + name.text + " has a named language (\"" +
                                      language.text + "\")");
                    Resource resource;
                    resource.type = type.text;
                    resource.name = name.text;
                    resource.language = language.id;
                    const std::size_t entry = image_.offset(root_ + leaf, 16);
                    const std::uint32_t size = image_.u32(entry + 4);
                    const std::uint8_t* data = image_.at(image_.offset(image_.u32(entry), size), size);
                    resource.data.assign(data, data + size);
                    out.push_back(std::move(resource));
                }
        return out;
    }

private:
    std::uint32_t subdirectory(std::uint32_t value)
    {
        if (!(value & 0x80000000u))
            throw PeError("a resource entry holds data where a directory belongs");
        const std::uint32_t offset = value & 0x7FFFFFFFu;
        if (!visited_.insert(offset).second)
            throw PeError("the resource tree loops");
        return offset;
    }

    /// One entry of a resource directory.
    struct Entry {
        std::string text;         ///< its display name: "PIPL", or "#16000" for id 16000
        bool named = false;       ///< named by a string rather than numbered
        std::uint16_t id = 0;     ///< the number, when it is one
        std::uint32_t value = 0;  ///< the raw offset word: a subdirectory or a leaf
    };

    /// The entries of the directory at `offset` (relative to the tree's root).
    std::vector<Entry> entries(std::uint32_t offset)
    {
        const std::size_t dir = image_.offset(root_ + offset, 16);
        const std::size_t count = std::size_t(image_.u16(dir + 12)) + image_.u16(dir + 14);
        std::vector<Entry> list;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry = image_.offset(std::uint32_t(root_ + offset + 16 + 8 * i), 8);
            const std::uint32_t name = image_.u32(entry);
            Entry e;
            e.named = (name & 0x80000000u) != 0;
            if (e.named) {
                // A counted UTF-16 string; resource type names are ASCII.
                const std::size_t at = image_.offset(root_ + (name & 0x7FFFFFFFu), 2);
                const std::uint16_t length = image_.u16(at);
                for (std::uint16_t c = 0; c < length; ++c) {
                    const std::uint16_t unit = image_.u16(at + 2 + 2 * std::size_t(c));
                    e.text += unit < 0x80 ? char(unit) : '?';
                }
            } else {
                e.id = std::uint16_t(name & 0xFFFFu);
                e.text = "#" + std::to_string(e.id);
            }
            e.value = image_.u32(entry + 4);
            list.push_back(std::move(e));
        }
        return list;
    }

    const Image& image_;
    std::uint32_t root_;
    std::set<std::uint32_t> visited_;
};

}  // namespace

PeFile read_pe(const std::vector<std::uint8_t>& bytes)
{
    Image image(bytes);
    if (bytes.size() < 64 || bytes[0] != 'M' || bytes[1] != 'Z')
        throw PeError("not a Windows module (no MZ header)");
    const std::size_t pe = image.u32(0x3C);
    const std::uint8_t* signature = image.at(pe, 4);
    if (signature[0] != 'P' || signature[1] != 'E' || signature[2] != 0 || signature[3] != 0)
        throw PeError("not a PE image (no PE signature)");

    PeFile file;
    const std::size_t coff = pe + 4;
    file.machine = image.u16(coff);
    const std::uint16_t section_count = image.u16(coff + 2);
    const std::uint16_t optional_size = image.u16(coff + 16);
    file.is_dll = (image.u16(coff + 18) & 0x2000) != 0;

    const std::size_t optional = coff + 20;
    if (image.u16(optional) != 0x20B)
        throw PeError("not a 64-bit (PE32+) image");
    const std::uint32_t directory_count = image.u32(optional + 108);
    auto directory = [&](std::uint32_t index) {
        Directory dir;
        if (index < directory_count && 112 + 8 * (index + 1) <= optional_size) {
            dir.rva = image.u32(optional + 112 + 8 * index);
            dir.size = image.u32(optional + 116 + 8 * index);
        }
        return dir;
    };

    const std::size_t sections = optional + optional_size;
    for (std::uint16_t i = 0; i < section_count; ++i) {
        const std::size_t s = sections + 40 * std::size_t(i);
        image.add_section({image.u32(s + 12), image.u32(s + 8), image.u32(s + 20), image.u32(s + 16)});
    }

    file.exports = read_exports(image, directory(0));
    file.imports = read_imports(image, directory(1));
    file.resources = ResourceWalker(image, directory(2)).walk();
    return file;
}

PeFile read_pe_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw PeError("cannot open '" + path + "'");
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return read_pe(bytes);
}

}  // namespace ruvivedu::pe
