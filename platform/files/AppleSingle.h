// AppleSingle (and AppleDouble) containers, as bytes: a pure reader and
// writer. A file is a header (magic, version, 16 filler bytes, entry count),
// an entry table (id, offset, length; big-endian) and the entries' bytes.
#ifndef PLATFORM_FILES_APPLESINGLE_H
#define PLATFORM_FILES_APPLESINGLE_H

#include <cstdint>
#include <span>
#include <vector>

namespace applesingle {

constexpr uint32_t kAppleSingleMagic = 0x00051600;
constexpr uint32_t kAppleDoubleMagic = 0x00051607;
constexpr uint32_t kVersion2 = 0x00020000;
constexpr uint32_t kDataForkID = 1;
constexpr uint32_t kResourceForkID = 2;
constexpr uint32_t kFinderInfoID = 9;
constexpr size_t kFinderInfoSize = 32;

struct Entry {
    uint32_t id = 0;
    std::vector<uint8_t> bytes;
};

struct Container {
    uint32_t magic = kAppleSingleMagic;
    uint32_t version = kVersion2;
    std::vector<Entry> entries;  // in table order

    Entry *Find(uint32_t id);
    const Entry *Find(uint32_t id) const;
};

// True when the bytes start like an AppleSingle/AppleDouble file.
bool LooksLikeContainer(std::span<const uint8_t> bytes);

struct ParseResult {
    int16_t error = 0;  // 0 or mapReadErr
    Container container;
};

// Checks the header and every entry against the input: entries reaching past
// the end, overlapping the table or each other, or repeating an id are
// damage (mapReadErr), never read out of bounds.
ParseResult ParseAppleSingle(std::span<const uint8_t> bytes);

std::vector<uint8_t> WriteAppleSingle(const Container &container);

// A new container holding Finder info (type, creator; the rest zero) and the
// given resource fork.
Container MakeResourceFile(uint32_t fileType, uint32_t creator, std::vector<uint8_t> resourceFork);

// Type and creator from a Finder info entry; false when it is missing or short.
bool GetTypeAndCreator(const Container &container, uint32_t *fileType, uint32_t *creator);

}  // namespace applesingle

#endif
