// Helpers shared by the file-format and Resource Manager tests.
#ifndef TESTS_PLATFORM_FILES_UTIL_H
#define TESTS_PLATFORM_FILES_UTIL_H

#include "files/ResourceFork.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
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

void PutBE(Bytes &b, size_t at, uint32_t value, int width);
// Bytes written as pairs of hex digits; spaces between them are ignored.
Bytes Hex(std::string_view digits);

// A 'STR#' body: big-endian count, then length-prefixed strings.
Bytes StringList(const std::vector<std::string> &items);
// A fork of these resources as the library writes it (its layout is checked in formats_test).
Bytes Fork(std::vector<rsrc::Resource> resources);
// Every field of each resource, to compare lists in one expectation.
std::vector<std::tuple<uint32_t, int16_t, uint8_t, bool, std::string, Bytes>> Fields(
    const std::vector<rsrc::Resource> &resources);

#endif
