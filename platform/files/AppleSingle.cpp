#include "files/AppleSingle.h"

#include "files/ResourceFork.h"
#include "MacTypes.h"

#include <algorithm>
#include <set>

namespace applesingle {
namespace {

constexpr size_t kHeaderSize = 26;  // magic, version, filler (16), count
constexpr size_t kEntrySize = 12;

uint32_t Get(std::span<const uint8_t> b, size_t offset, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) v = (v << 8) | b[offset + i];
    return v;
}

void Append(std::vector<uint8_t> &out, uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace

Entry *Container::Find(uint32_t id) {
    for (Entry &e : entries)
        if (e.id == id) return &e;
    return nullptr;
}

const Entry *Container::Find(uint32_t id) const { return const_cast<Container *>(this)->Find(id); }

bool LooksLikeContainer(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4) return false;
    const uint32_t magic = Get(bytes, 0, 4);
    return magic == kAppleSingleMagic || magic == kAppleDoubleMagic;
}

ParseResult ParseAppleSingle(std::span<const uint8_t> bytes) {
    const ParseResult damaged{mapReadErr, {}};
    if (!LooksLikeContainer(bytes) || bytes.size() < kHeaderSize || bytes.size() > rsrc::kMaxForkSize * 2)
        return damaged;
    ParseResult result;
    result.container.magic = Get(bytes, 0, 4);
    result.container.version = Get(bytes, 4, 4);
    if (result.container.version != 0x00010000 && result.container.version != kVersion2) return damaged;
    const uint64_t count = Get(bytes, 24, 2);
    const uint64_t tableEnd = kHeaderSize + count * kEntrySize;
    if (tableEnd > bytes.size()) return damaged;

    std::set<uint32_t> ids;
    std::vector<std::pair<uint64_t, uint64_t>> places;  // offset, length per entry
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = kHeaderSize + i * kEntrySize;
        Entry e;
        e.id = Get(bytes, at, 4);
        const uint64_t offset = Get(bytes, at + 4, 4), length = Get(bytes, at + 8, 4);
        if (e.id == 0 || !ids.insert(e.id).second) return damaged;
        if (offset > bytes.size() || length > bytes.size() - offset) return damaged;
        if (length && offset < tableEnd) return damaged;
        places.emplace_back(offset, length);
        result.container.entries.push_back(std::move(e));
    }
    // Overlaps are checked before anything is copied, so entries sharing
    // one large range cannot multiply it in memory.
    std::vector<std::pair<uint64_t, uint64_t>> spans;
    for (const auto &p : places)
        if (p.second) spans.push_back(p);
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i - 1].first + spans[i - 1].second > spans[i].first) return damaged;
    for (size_t i = 0; i < places.size(); ++i)
        result.container.entries[i].bytes.assign(bytes.begin() + places[i].first,
                                                 bytes.begin() + places[i].first + places[i].second);
    return result;
}

std::vector<uint8_t> WriteAppleSingle(const Container &container) {
    std::vector<uint8_t> out;
    Append(out, container.magic, 4);
    Append(out, container.version, 4);
    out.resize(out.size() + 16, 0);
    Append(out, static_cast<uint32_t>(container.entries.size()), 2);
    uint64_t offset = kHeaderSize + container.entries.size() * kEntrySize;
    for (const Entry &e : container.entries) {
        Append(out, e.id, 4);
        Append(out, static_cast<uint32_t>(offset), 4);
        Append(out, static_cast<uint32_t>(e.bytes.size()), 4);
        offset += e.bytes.size();
    }
    for (const Entry &e : container.entries) out.insert(out.end(), e.bytes.begin(), e.bytes.end());
    return out;
}

Container MakeResourceFile(uint32_t fileType, uint32_t creator, std::vector<uint8_t> resourceFork) {
    Container c;
    Entry info{kFinderInfoID, std::vector<uint8_t>(kFinderInfoSize, 0)};
    for (int i = 0; i < 4; ++i) {
        info.bytes[i] = static_cast<uint8_t>(fileType >> (24 - 8 * i));
        info.bytes[4 + i] = static_cast<uint8_t>(creator >> (24 - 8 * i));
    }
    c.entries.push_back(std::move(info));
    c.entries.push_back(Entry{kResourceForkID, std::move(resourceFork)});
    return c;
}

bool GetTypeAndCreator(const Container &container, uint32_t *fileType, uint32_t *creator) {
    const Entry *info = container.Find(kFinderInfoID);
    if (!info || info->bytes.size() < 8) return false;
    if (fileType) *fileType = Get(info->bytes, 0, 4);
    if (creator) *creator = Get(info->bytes, 4, 4);
    return true;
}

}  // namespace applesingle
