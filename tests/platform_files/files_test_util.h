// Helpers shared by the file-format and Resource Manager tests.
#ifndef TESTS_PLATFORM_FILES_UTIL_H
#define TESTS_PLATFORM_FILES_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh folder under $TMPDIR (or /tmp), removed with its content at the end.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
};

Bytes ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const Bytes &bytes);
bool FileExists(const std::string &path);

uint32_t BE32(const Bytes &b, size_t at);
uint16_t BE16(const Bytes &b, size_t at);
void PutBE(Bytes &b, size_t at, uint32_t value, int width);

// A resource fork laid out by hand, independently of the library's writer:
// header, 240 reserved bytes, data blocks in the order given, then the map
// (fixed part of 28 bytes, type list, reference lists, names). One type list
// entry per distinct type, in first-seen order.
struct HandFork {
    struct Res {
        uint32_t type;
        int16_t id;
        std::string name;  // empty: no name
        Bytes data;
        uint8_t attributes = 0;
    };
    std::vector<Res> resources;

    Bytes Build() const;
    // Offsets into Build()'s bytes, for damage tests.
    size_t mapOffset = 0, typeListOffset = 0, refListOffset = 0, nameListOffset = 0;
};

// A 'STR#' body: big-endian count, then length-prefixed strings.
Bytes StringList(const std::vector<std::string> &items);

#endif
