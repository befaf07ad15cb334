// Just enough of the PE format to check what a module exports and imports.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct PeFile {
    bool valid = false;
    std::string exportName;
    std::vector<std::string> exports;
    std::vector<std::string> imports;  // DLL names
};

inline PeFile ReadPeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                           std::istreambuf_iterator<char>()};
    PeFile pe;
    auto u16 = [&](std::size_t at) -> std::uint32_t {
        return at + 2 <= bytes.size() ? bytes[at] | bytes[at + 1] << 8 : 0;
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return at + 4 <= bytes.size() ? u16(at) | u16(at + 2) << 16 : 0;
    };
    auto text = [&](std::size_t at) {
        std::string s;
        while (at < bytes.size() && bytes[at] != 0) s += static_cast<char>(bytes[at++]);
        return s;
    };
    if (bytes.size() < 0x40 || bytes[0] != 'M' || bytes[1] != 'Z') return pe;
    const std::size_t nt = u32(0x3C);
    if (u32(nt) != 0x00004550) return pe;  // "PE\0\0"
    const std::size_t fileHeader = nt + 4;
    const std::uint32_t sectionCount = u16(fileHeader + 2);
    const std::size_t optional = fileHeader + 20;
    if (u16(optional) != 0x10B) return pe;  // PE32
    const std::size_t sections = optional + u16(fileHeader + 16);
    auto offsetOf = [&](std::uint32_t rva) -> std::size_t {
        for (std::uint32_t i = 0; i < sectionCount; ++i) {
            const std::size_t s = sections + i * 40;
            const std::uint32_t address = u32(s + 12), size = std::max(u32(s + 8), u32(s + 16));
            if (rva >= address && rva < address + size) return rva - address + u32(s + 20);
        }
        return bytes.size();
    };
    const std::uint32_t exportRva = u32(optional + 96), importRva = u32(optional + 104);
    if (exportRva != 0) {
        const std::size_t dir = offsetOf(exportRva);
        pe.exportName = text(offsetOf(u32(dir + 12)));
        const std::uint32_t names = u32(dir + 24);
        const std::size_t table = offsetOf(u32(dir + 32));
        for (std::uint32_t i = 0; i < names; ++i)
            pe.exports.push_back(text(offsetOf(u32(table + 4 * i))));
    }
    if (importRva != 0) {
        for (std::size_t d = offsetOf(importRva); u32(d + 12) != 0; d += 20) {
            pe.imports.push_back(text(offsetOf(u32(d + 12))));
        }
    }
    pe.valid = true;
    return pe;
}
