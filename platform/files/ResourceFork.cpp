#include "files/ResourceFork.h"

#include "MacTypes.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace rsrc {
namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kMapFixedSize = 28;  // header copy, handle, ref, attributes, two offsets
constexpr size_t kTypeEntrySize = 8;
constexpr size_t kRefEntrySize = 12;
constexpr size_t kDataStart = 256;  // header plus the reserved system/application area

// Bounds-checked big-endian reads from one region of the input.
struct Reader {
    std::span<const uint8_t> bytes;
    bool ok = true;

    bool Has(uint64_t offset, uint64_t length) const {
        return offset <= bytes.size() && length <= bytes.size() - offset;
    }
    uint32_t Read(uint64_t offset, int width) {
        if (!Has(offset, width)) {
            ok = false;
            return 0;
        }
        uint32_t v = 0;
        for (int i = 0; i < width; ++i) v = (v << 8) | bytes[offset + i];
        return v;
    }
    uint32_t U32(uint64_t o) { return Read(o, 4); }
    uint32_t U24(uint64_t o) { return Read(o, 3); }
    uint16_t U16(uint64_t o) { return static_cast<uint16_t>(Read(o, 2)); }
    uint8_t U8(uint64_t o) { return static_cast<uint8_t>(Read(o, 1)); }
};

ParseResult Damaged() { return ParseResult{mapReadErr, {}}; }

bool Overlap(uint64_t aStart, uint64_t aLen, uint64_t bStart, uint64_t bLen) {
    return aLen && bLen && aStart < bStart + bLen && bStart < aStart + aLen;
}

void Put(std::vector<uint8_t> &out, size_t offset, uint32_t value, int width) {
    for (int i = width - 1; i >= 0; --i, value >>= 8) out[offset + i] = static_cast<uint8_t>(value);
}

void Append(std::vector<uint8_t> &out, uint32_t value, int width) {
    out.resize(out.size() + width);
    Put(out, out.size() - width, value, width);
}

}  // namespace

ParseResult ParseResourceFork(std::span<const uint8_t> bytes) {
    if (bytes.empty()) return ParseResult{eofErr, {}};
    if (bytes.size() < kHeaderSize || bytes.size() > kMaxForkSize) return Damaged();
    Reader file{bytes};
    const uint64_t dataOffset = file.U32(0), mapOffset = file.U32(4);
    const uint64_t dataLength = file.U32(8), mapLength = file.U32(12);
    if (!file.Has(dataOffset, dataLength) || !file.Has(mapOffset, mapLength)) return Damaged();
    if (dataOffset < kHeaderSize || mapOffset < kHeaderSize) return Damaged();
    if (Overlap(dataOffset, dataLength, mapOffset, mapLength)) return Damaged();
    if (mapLength < kMapFixedSize + 2) return Damaged();

    Reader map{bytes.subspan(mapOffset, mapLength)};
    Reader data{bytes.subspan(dataOffset, dataLength)};
    ParseResult result;
    result.map.fileAttributes = map.U16(22);
    const uint64_t typeListOffset = map.U16(24);
    const uint64_t nameListOffset = map.U16(26);
    if (!map.Has(typeListOffset, 2) || nameListOffset > mapLength) return Damaged();
    Reader names{bytes.subspan(mapOffset + nameListOffset, mapLength - nameListOffset)};

    // count-1 is stored; 0xFFFF means no types at all.
    const uint64_t typeCount = (map.U16(typeListOffset) + 1) & 0xFFFF;
    if (!map.Has(typeListOffset + 2, typeCount * kTypeEntrySize)) return Damaged();

    std::set<std::pair<uint32_t, int16_t>> seen;
    std::vector<std::pair<uint64_t, uint64_t>> blocks;  // data offset, total length
    for (uint64_t t = 0; t < typeCount; ++t) {
        const uint64_t entry = typeListOffset + 2 + t * kTypeEntrySize;
        const uint32_t type = map.U32(entry);
        const uint64_t refCount = uint64_t(map.U16(entry + 4)) + 1;
        const uint64_t refList = typeListOffset + map.U16(entry + 6);
        if (!map.ok || !map.Has(refList, refCount * kRefEntrySize)) return Damaged();
        for (uint64_t r = 0; r < refCount; ++r) {
            const uint64_t ref = refList + r * kRefEntrySize;
            Resource res;
            res.type = type;
            res.id = static_cast<int16_t>(map.U16(ref));
            const uint16_t nameOffset = map.U16(ref + 2);
            res.attributes = map.U8(ref + 4) & ~kResChangedAttr;
            const uint64_t blockOffset = map.U24(ref + 5);
            if (!map.ok) return Damaged();
            if (!seen.insert({type, res.id}).second) return Damaged();
            if (nameOffset != 0xFFFF) {
                const uint64_t nameLength = names.U8(nameOffset);
                if (!names.ok || !names.Has(nameOffset + 1, nameLength)) return Damaged();
                auto n = names.bytes.subspan(nameOffset + 1, nameLength);
                res.hasName = true;
                res.name.assign(n.begin(), n.end());
            }
            const uint64_t length = data.U32(blockOffset);
            if (!data.ok || !data.Has(blockOffset + 4, length)) return Damaged();
            blocks.emplace_back(blockOffset, length + 4);
            result.map.resources.push_back(std::move(res));
            if (result.map.resources.size() > kMaxResources) return Damaged();
        }
    }
    // Check the blocks before copying them: many references to one large
    // block must not multiply it in memory.
    std::vector<std::pair<uint64_t, uint64_t>> sorted = blocks;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 1; i < sorted.size(); ++i)
        if (sorted[i - 1].first + sorted[i - 1].second > sorted[i].first) return Damaged();
    for (size_t i = 0; i < blocks.size(); ++i) {
        auto d = data.bytes.subspan(blocks[i].first + 4, blocks[i].second - 4);
        result.map.resources[i].data.assign(d.begin(), d.end());
    }
    return result;
}

WriteResult WriteResourceFork(const ResourceMap &map) {
    const WriteResult failed{addResFailed, {}};
    // Group by type, keeping the order in which types first appear.
    std::vector<uint32_t> types;
    std::map<uint32_t, std::vector<const Resource *>> byType;
    for (const Resource &r : map.resources) {
        auto &list = byType[r.type];
        if (list.empty()) types.push_back(r.type);
        list.push_back(&r);
    }
    if (types.size() > 0x10000) return failed;

    std::vector<uint8_t> out(kDataStart, 0);
    std::vector<uint8_t> nameList;
    // Data blocks, in the order the references will list them.
    std::map<const Resource *, uint32_t> dataOffsetOf, nameOffsetOf;
    for (uint32_t type : types) {
        for (const Resource *r : byType[type]) {
            const uint64_t offset = out.size() - kDataStart;
            if (offset > 0xFFFFFF || r->data.size() > kMaxForkSize) return failed;
            dataOffsetOf[r] = static_cast<uint32_t>(offset);
            Append(out, static_cast<uint32_t>(r->data.size()), 4);
            out.insert(out.end(), r->data.begin(), r->data.end());
            if (out.size() > kMaxForkSize) return failed;
            if (r->hasName) {
                if (r->name.size() > 255 || nameList.size() > 0xFFFE) return failed;
                nameOffsetOf[r] = static_cast<uint32_t>(nameList.size());
                nameList.push_back(static_cast<uint8_t>(r->name.size()));
                nameList.insert(nameList.end(), r->name.begin(), r->name.end());
            }
        }
    }
    const uint64_t dataLength = out.size() - kDataStart;
    const uint64_t mapOffset = out.size();

    std::vector<uint8_t> m(kMapFixedSize, 0);
    Put(m, 22, map.fileAttributes, 2);
    Put(m, 24, kMapFixedSize, 2);
    Append(m, static_cast<uint32_t>(types.size() - 1) & 0xFFFF, 2);
    const size_t typeListStart = kMapFixedSize;
    size_t refListStart = m.size() + types.size() * kTypeEntrySize;
    m.resize(refListStart);
    for (size_t t = 0; t < types.size(); ++t) {
        const auto &list = byType[types[t]];
        const uint64_t refOffset = refListStart - typeListStart;
        if (refOffset > 0xFFFF || list.size() > 0x10000) return failed;
        const size_t entry = typeListStart + 2 + t * kTypeEntrySize;
        Put(m, entry, types[t], 4);
        Put(m, entry + 4, static_cast<uint32_t>(list.size() - 1), 2);
        Put(m, entry + 6, static_cast<uint32_t>(refOffset), 2);
        for (const Resource *r : list) {
            Append(m, static_cast<uint16_t>(r->id), 2);
            Append(m, r->hasName ? nameOffsetOf[r] : 0xFFFF, 2);
            Append(m, r->attributes & ~kResChangedAttr, 1);
            Append(m, dataOffsetOf[r], 3);
            Append(m, 0, 4);
        }
        refListStart = m.size();
    }
    if (m.size() > 0xFFFF) return failed;
    Put(m, 26, static_cast<uint32_t>(m.size()), 2);
    m.insert(m.end(), nameList.begin(), nameList.end());
    if (mapOffset + m.size() > kMaxForkSize) return failed;

    // Header, and its copy at the start of the map.
    for (auto *h : {&out, &m}) {
        Put(*h, 0, kDataStart, 4);
        Put(*h, 4, static_cast<uint32_t>(mapOffset), 4);
        Put(*h, 8, static_cast<uint32_t>(dataLength), 4);
        Put(*h, 12, static_cast<uint32_t>(m.size()), 4);
    }
    out.insert(out.end(), m.begin(), m.end());
    return WriteResult{0, std::move(out)};
}

}  // namespace rsrc
