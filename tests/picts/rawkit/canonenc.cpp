// Canon raw writers of the test kit, written from the format descriptions.
#include "canonenc.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "bitwriter.h"
#include "ljpegenc.h"
#include "tiffwriter.h"

namespace rawkit {

std::vector<unsigned char> bytesOf(const std::vector<uint32_t>& v, int size, bool be) {
    std::vector<unsigned char> out;
    for (uint32_t x : v)
        for (int i = 0; i < size; i++) out.push_back((unsigned char)(x >> (be ? 8 * (size - 1 - i) : 8 * i)));
    return out;
}

namespace {

// A TIFF directory whose out-of-line values follow it, offsets counted from the file's start
// (the directory itself lies at `base`).
std::vector<unsigned char> noteIfd(const std::vector<NoteEntry>& entries, uint32_t base, bool be) {
    std::vector<unsigned char> out = bytesOf({(uint32_t)entries.size()}, 2, be), values;
    const uint32_t valuesAt = base + 2 + 12 * (uint32_t)entries.size() + 4;
    for (const NoteEntry& e : entries) {
        auto add = [&](const std::vector<unsigned char>& b) { out.insert(out.end(), b.begin(), b.end()); };
        add(bytesOf({(uint32_t)e.tag, (uint32_t)e.type}, 2, be));
        add(bytesOf({e.count}, 4, be));
        if (e.data.size() <= 4) {
            std::vector<unsigned char> v = e.data;
            v.resize(4, 0);
            add(v);
        } else {
            if (values.size() & 1) values.push_back(0);
            add(bytesOf({valuesAt + (uint32_t)values.size()}, 4, be));
            values.insert(values.end(), e.data.begin(), e.data.end());
        }
    }
    out.insert(out.end(), 4, 0);
    out.insert(out.end(), values.begin(), values.end());
    return out;
}

NoteEntry shorts(int tag, const std::vector<uint32_t>& v, bool be) {
    NoteEntry e;
    e.tag = tag;
    e.type = 3;
    e.count = (uint32_t)v.size();
    e.data = bytesOf(v, 2, be);
    return e;
}
NoteEntry longs(int tag, const std::vector<uint32_t>& v, bool be) {
    NoteEntry e;
    e.tag = tag;
    e.type = 4;
    e.count = (uint32_t)v.size();
    e.data = bytesOf(v, 4, be);
    return e;
}

}  // namespace

std::vector<unsigned char> writeCanonCr2(const CanonCr2Spec& s, uint64_t* frameOffset, uint64_t* frameLength) {
    const bool be = s.bigEndian;
    std::vector<unsigned char> jpeg = s.jpeg;
    if (jpeg.empty()) {
        std::vector<uint16_t> order =
            s.sliceCount ? sliceOrder(s.frame, s.width, s.height, s.sliceCount, s.sliceWidth) : s.frame;
        LjOptions o;
        o.precision = s.precision;
        jpeg = encodeRawSequence(order, s.width / s.components, s.height, s.components, o);
    }
    uint64_t fOff = 0;
    auto build = [&](uint32_t noteBase, uint32_t oldFrame, std::vector<unsigned char>& note) {
        std::map<int, NoteEntry> entries;
        std::vector<uint32_t> sensor(17, 0);
        sensor[0] = 34;
        sensor[1] = (uint32_t)s.width;
        sensor[2] = (uint32_t)s.height;
        sensor[5] = s.leftBorder;
        for (int i = 0; i < 4; i++) sensor[9 + i] = s.mask[i];
        entries[16] = longs(16, {s.modelId}, be);
        entries[224] = shorts(224, sensor, be);
        std::vector<uint32_t> color(582, 0);
        for (int i = 0; i < 4; i++) color[25 + i] = s.levels[i];  // bytes 50-57
        entries[16385] = shorts(16385, color, be);
        if (s.oldFrameOffsetTag) entries[129] = longs(129, {oldFrame}, be);
        for (const NoteEntry& e : s.extraNote) entries[e.tag] = e;
        std::vector<NoteEntry> list;
        for (auto& kv : entries)
            if (kv.second.type) list.push_back(kv.second);
        note = noteIfd(list, noteBase, be);
        TiffWriter t(be, false);
        int i0 = t.newIfd(), i1 = t.newIfd(), i2 = t.newIfd(), i3 = t.newIfd(), exif = t.newIfd();
        t.addAscii(i0, 271, s.make);
        t.addAscii(i0, 272, s.model);
        t.addIfdPointers(i0, 34665, {exif});
        if (!s.preview.empty()) t.addBlocks(i0, 273, 279, {s.preview});
        t.addLongs(exif, 40962, {(uint32_t)(s.exifWidth ? s.exifWidth : s.width)});
        t.addLongs(exif, 40963, {(uint32_t)(s.exifHeight ? s.exifHeight : s.height)});
        t.addMakerNote(exif, note);
        t.chain(i0, i1);
        t.chain(i1, i2);
        t.chain(i2, i3);
        t.addShorts(i2, 256, {1});
        int frameIfd = s.oldFrameOffsetTag ? i1 : i3;
        t.addShorts(frameIfd, 259, {6});
        t.addBlocks(frameIfd, 273, 279, {jpeg});
        if (!s.oldFrameOffsetTag) t.addShorts(i1, 256, {1});
        else t.addShorts(i3, 256, {1});
        std::vector<uint32_t> slices = s.sliceTag;
        if (slices.empty() && s.sliceCount)
            slices = {(uint32_t)s.sliceCount, (uint32_t)s.sliceWidth,
                      (uint32_t)(s.lastWidth ? s.lastWidth : s.width - s.sliceCount * s.sliceWidth)};
        if (!slices.empty()) {
            if (s.sliceTagType == 4) t.addLongs(i3, 50752, slices);
            else t.addShorts(i3, 50752, slices);
        }
        std::vector<unsigned char> file = t.write(i0);
        fOff = t.blockOffset(frameIfd, 273, 0);
        return file;
    };
    // Two passes: the layout depends on sizes only, so the second pass can point the maker
    // note's values and the old-model frame offset at where the first pass put them.
    std::vector<unsigned char> note;
    std::vector<unsigned char> first = build(0, 0, note);
    auto at = std::search(first.begin(), first.end(), note.begin(), note.end());
    const uint32_t base = (uint32_t)(at - first.begin());
    build(base, 0, note);
    std::vector<unsigned char> file = build(base, (uint32_t)fOff, note);
    if (frameOffset) *frameOffset = fOff;
    if (frameLength) *frameLength = jpeg.size();
    return file;
}

}  // namespace rawkit
