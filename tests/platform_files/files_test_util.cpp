#include "files_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

void PutBE(Bytes &b, size_t at, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) b.at(at + i) = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

Bytes Hex(std::string_view digits) {
    Bytes out;
    for (size_t i = 0; i < digits.size(); ++i)
        if (digits[i] != ' ')
            out.push_back(static_cast<uint8_t>(std::stoul(std::string(digits.substr(i++, 2)), nullptr, 16)));
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

Bytes Fork(std::vector<rsrc::Resource> resources) { return rsrc::WriteResourceFork({0, std::move(resources)}).bytes; }

std::vector<std::tuple<uint32_t, int16_t, uint8_t, bool, std::string, Bytes>> Fields(
    const std::vector<rsrc::Resource> &resources) {
    std::vector<std::tuple<uint32_t, int16_t, uint8_t, bool, std::string, Bytes>> out;
    for (const auto &r : resources) out.emplace_back(r.type, r.id, r.attributes, r.hasName, r.name, r.data);
    return out;
}
