#include "files_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelvarin-files-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path, ec);
}

Bytes ReadFileBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

uint32_t BE32(const Bytes &b, size_t at) {
    return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 | b.at(at + 3);
}

uint16_t BE16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b.at(at) << 8 | b.at(at + 1)); }

void PutBE(Bytes &b, size_t at, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) b.at(at + i) = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

Bytes HandFork::Build() const {
    auto *self = const_cast<HandFork *>(this);
    Bytes data;
    std::vector<uint32_t> blockOffsets;
    for (const Res &r : resources) {
        blockOffsets.push_back(static_cast<uint32_t>(data.size()));
        data.resize(data.size() + 4);
        PutBE(data, data.size() - 4, static_cast<uint32_t>(r.data.size()), 4);
        data.insert(data.end(), r.data.begin(), r.data.end());
    }
    std::vector<uint32_t> types;
    std::map<uint32_t, std::vector<size_t>> members;
    for (size_t i = 0; i < resources.size(); ++i) {
        if (members[resources[i].type].empty()) types.push_back(resources[i].type);
        members[resources[i].type].push_back(i);
    }
    Bytes names;
    std::vector<int> nameOffsets;
    for (const Res &r : resources) {
        if (r.name.empty()) {
            nameOffsets.push_back(-1);
            continue;
        }
        nameOffsets.push_back(static_cast<int>(names.size()));
        names.push_back(static_cast<uint8_t>(r.name.size()));
        names.insert(names.end(), r.name.begin(), r.name.end());
    }
    const size_t typeListSize = 2 + 8 * types.size();
    const size_t mapSize = 28 + typeListSize + 12 * resources.size() + names.size();
    Bytes out(256 + data.size() + mapSize, 0);
    const size_t mapAt = 256 + data.size();
    for (size_t h : {size_t(0), mapAt}) {
        PutBE(out, h, 256, 4);
        PutBE(out, h + 4, static_cast<uint32_t>(mapAt), 4);
        PutBE(out, h + 8, static_cast<uint32_t>(data.size()), 4);
        PutBE(out, h + 12, static_cast<uint32_t>(mapSize), 4);
    }
    std::copy(data.begin(), data.end(), out.begin() + 256);
    PutBE(out, mapAt + 24, 28, 2);
    PutBE(out, mapAt + 26, static_cast<uint32_t>(28 + typeListSize + 12 * resources.size()), 2);
    PutBE(out, mapAt + 28, static_cast<uint32_t>(types.size() - 1), 2);
    size_t ref = mapAt + 28 + typeListSize;
    self->mapOffset = mapAt;
    self->typeListOffset = mapAt + 28;
    self->refListOffset = ref;
    self->nameListOffset = mapAt + 28 + typeListSize + 12 * resources.size();
    for (size_t t = 0; t < types.size(); ++t) {
        const size_t entry = mapAt + 28 + 2 + 8 * t;
        PutBE(out, entry, types[t], 4);
        PutBE(out, entry + 4, static_cast<uint32_t>(members[types[t]].size() - 1), 2);
        PutBE(out, entry + 6, static_cast<uint32_t>(ref - (mapAt + 28)), 2);
        for (size_t i : members[types[t]]) {
            PutBE(out, ref, static_cast<uint16_t>(resources[i].id), 2);
            PutBE(out, ref + 2, static_cast<uint16_t>(nameOffsets[i]), 2);
            out[ref + 4] = resources[i].attributes;
            PutBE(out, ref + 5, blockOffsets[i], 3);
            ref += 12;
        }
    }
    std::copy(names.begin(), names.end(), out.begin() + self->nameListOffset);
    return out;
}

Bytes StringList(const std::vector<std::string> &items) {
    Bytes out{static_cast<uint8_t>(items.size() >> 8), static_cast<uint8_t>(items.size())};
    for (const std::string &s : items) {
        out.push_back(static_cast<uint8_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
    return out;
}
