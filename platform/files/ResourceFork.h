// The classic resource-fork format, as bytes: a pure reader and writer with
// no platform state, shared by the Resource Manager, the rez tool, the tests
// and the fuzzers.
//
// Layout (all numbers big-endian):
//   header (16 bytes): data offset, map offset, data length, map length
//   data: per resource a 4-byte length and the bytes
//   map: header copy (16), next-map handle (4), file ref (2), file attributes (2),
//        type list offset (2), name list offset (2), both from the map start;
//        type list: count-1 (2), per type: type (4), count-1 (2), reference
//        list offset from the type list start (2);
//        reference: id (2), name offset from the name list start or -1 (2),
//        attributes (1), data offset from the data start (3), handle (4);
//        name list: length byte + bytes.
#ifndef PLATFORM_FILES_RESOURCEFORK_H
#define PLATFORM_FILES_RESOURCEFORK_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace rsrc {

// Attribute bit cleared on every write: it only means "changed in memory".
constexpr uint8_t kResChangedAttr = 0x02;

struct Resource {
    uint32_t type = 0;
    int16_t id = 0;
    uint8_t attributes = 0;
    bool hasName = false;
    std::string name;  // MacRoman bytes, at most 255
    std::vector<uint8_t> data;
};

struct ResourceMap {
    uint16_t fileAttributes = 0;
    std::vector<Resource> resources;  // in file order: grouped by type
};

struct ParseResult {
    int16_t error = 0;  // 0, mapReadErr (damaged) or eofErr (empty input)
    ResourceMap map;
};

// Reads a whole fork. Every offset and count is checked against the input:
// a damaged fork gives mapReadErr and an empty map, never a read outside
// `bytes`. Also rejected: overlapping data blocks, two resources of the same
// type and ID, forks larger than kMaxForkSize and more than kMaxResources.
ParseResult ParseResourceFork(std::span<const uint8_t> bytes);

struct WriteResult {
    int16_t error = 0;  // 0, or addResFailed when the map cannot hold the resources
    std::vector<uint8_t> bytes;
};

// Serialises a map (resources grouped by type in first-seen order). The
// changed attribute is not stored. Fails when offsets no longer fit the
// format's fields (data beyond 16 MiB, map beyond 64 KiB) or a name is longer
// than 255 bytes.
WriteResult WriteResourceFork(const ResourceMap &map);

constexpr size_t kMaxForkSize = 64u << 20;
// More resources than this in one file is damage, not data (it also bounds
// the memory that copies of shared names could take).
constexpr size_t kMaxResources = 65536;

}  // namespace rsrc

#endif
