#include "pe_image.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

namespace {

// Every read is checked against the file's size; offsets come from the file itself.
class PeBytes {
public:
    explicit PeBytes(const std::string& bytes) : bytes_(bytes) {}

    const unsigned char* At(uint64_t offset, uint64_t size) const
    {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            throw std::runtime_error("PE file: a structure lies outside the file");
        return reinterpret_cast<const unsigned char*>(bytes_.data()) + offset;
    }
    uint16_t U16(uint64_t offset) const
    {
        const unsigned char* p = At(offset, 2);
        return (uint16_t)(p[0] | p[1] << 8);
    }
    uint32_t U32(uint64_t offset) const
    {
        const unsigned char* p = At(offset, 4);
        return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
    }
    uint64_t U64(uint64_t offset) const { return U32(offset) | (uint64_t)U32(offset + 4) << 32; }
    std::string Text(uint64_t offset) const
    {
        std::string text;
        for (uint64_t at = offset;; ++at) {
            char c = (char)*At(at, 1);
            if (c == '\0')
                return text;
            text += c;
        }
    }

private:
    const std::string& bytes_;
};

struct Section {
    uint32_t virtualAddress, virtualSize, rawPointer;
};

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return (char)std::toupper(c); });
    return text;
}

class PeReader {
public:
    explicit PeReader(const std::string& bytes) : file_(bytes) {}

    PeImage Read()
    {
        if (file_.U16(0) != 0x5A4D)
            throw std::runtime_error("PE file: no MZ header");
        const uint32_t pe = file_.U32(0x3C);
        if (file_.U32(pe) != 0x00004550)
            throw std::runtime_error("PE file: no PE signature");
        image_.machine = file_.U16(pe + 4);
        image_.characteristics = file_.U16(pe + 22);
        const uint16_t sectionCount = file_.U16(pe + 6);
        const uint16_t optionalSize = file_.U16(pe + 20);
        const uint64_t optional = pe + 24;
        const uint16_t magic = file_.U16(optional);
        if (magic != 0x10B && magic != 0x20B)
            throw std::runtime_error("PE file: unknown optional header magic");
        image_.pe32Plus = magic == 0x20B;
        image_.subsystem = file_.U16(optional + 68);
        directories_ = optional + (image_.pe32Plus ? 112 : 96);
        const uint64_t table = optional + optionalSize;
        for (uint16_t i = 0; i < sectionCount; ++i) {
            const uint64_t s = table + i * 40u;
            const uint32_t rawSize = file_.U32(s + 16);
            sections_.push_back({file_.U32(s + 12), std::max(file_.U32(s + 8), rawSize), file_.U32(s + 20)});
        }
        ReadImports();
        image_.delayImportSize = DirectorySize(13);
        ReadResources();
        return image_;
    }

private:
    uint32_t DirectoryRva(int index) const { return file_.U32(directories_ + index * 8u); }
    uint32_t DirectorySize(int index) const { return file_.U32(directories_ + index * 8u + 4); }

    uint64_t ToOffset(uint32_t rva) const
    {
        for (const Section& s : sections_)
            if (rva >= s.virtualAddress && rva - s.virtualAddress < s.virtualSize)
                return (uint64_t)rva - s.virtualAddress + s.rawPointer;
        throw std::runtime_error("PE file: an address lies outside every section");
    }

    void ReadImports()
    {
        const uint32_t importRva = DirectoryRva(1);
        if (importRva == 0)
            return;
        const unsigned thunkSize = image_.pe32Plus ? 8 : 4;
        const uint64_t ordinalFlag = image_.pe32Plus ? 1ull << 63 : 1ull << 31;
        for (uint64_t descriptor = ToOffset(importRva);; descriptor += 20) {
            const uint32_t names = file_.U32(descriptor), name = file_.U32(descriptor + 12),
                           thunks = file_.U32(descriptor + 16);
            if (name == 0)
                break;
            std::set<std::string>& functions = image_.imports[Upper(file_.Text(ToOffset(name)))];
            for (uint64_t thunk = ToOffset(names != 0 ? names : thunks);; thunk += thunkSize) {
                const uint64_t entry = image_.pe32Plus ? file_.U64(thunk) : file_.U32(thunk);
                if (entry == 0)
                    break;
                if (entry & ordinalFlag)
                    functions.insert("#" + std::to_string(entry & 0xFFFF));
                else
                    functions.insert(file_.Text(ToOffset((uint32_t)entry) + 2));
            }
        }
    }

    // A resource directory entry's name: "#N" for an id, the ASCII text of a named one.
    std::string EntryName(uint64_t root, uint32_t name) const
    {
        if ((name & 0x80000000u) == 0)
            return "#" + std::to_string(name);
        const uint64_t at = root + (name & 0x7FFFFFFFu);
        const uint16_t length = file_.U16(at);
        std::string text;
        for (uint16_t i = 0; i < length; ++i) {
            const uint16_t unit = file_.U16(at + 2 + 2u * i);
            text += unit < 0x80 ? (char)unit : '?';
        }
        return text;
    }

    // (name, offset of the child directory) for each entry of the directory at `at`.
    std::vector<std::pair<uint32_t, uint64_t>> Children(uint64_t root, uint64_t at) const
    {
        const unsigned count = file_.U16(at + 12) + file_.U16(at + 14);
        std::vector<std::pair<uint32_t, uint64_t>> children;
        for (unsigned i = 0; i < count; ++i) {
            const uint64_t entry = at + 16 + 8u * i;
            children.emplace_back(file_.U32(entry), root + (file_.U32(entry + 4) & 0x7FFFFFFFu));
        }
        return children;
    }

    void ReadResources()
    {
        const uint32_t rva = DirectoryRva(2);
        if (rva == 0)
            return;
        const uint64_t root = ToOffset(rva);
        for (const auto& [type, types] : Children(root, root))
            for (const auto& [name, names] : Children(root, types))
                for (const auto& [language, data] : Children(root, names))
                    image_.resources[EntryName(root, type)][EntryName(root, name)][(uint16_t)language] =
                        std::string(reinterpret_cast<const char*>(file_.At(ToOffset(file_.U32(data)), file_.U32(data + 4))),
                                    file_.U32(data + 4));
    }

    PeBytes file_;
    PeImage image_;
    uint64_t directories_ = 0;
    std::vector<Section> sections_;
};

}  // namespace

PeImage ReadPeImage(const std::string& bytes)
{
    return PeReader(bytes).Read();
}
