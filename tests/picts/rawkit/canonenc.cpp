// Canon raw writers of the test kit, written from the format descriptions.
#include "canonenc.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "bitwriter.h"
#include "ljpegenc.h"
#include "tiffwriter.h"
#include "picts/raw/canon/pictcrw.h"

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
    return {tag, 3, (uint32_t)v.size(), bytesOf(v, 2, be)};
}
NoteEntry longs(int tag, const std::vector<uint32_t>& v, bool be) {
    return {tag, 4, (uint32_t)v.size(), bytesOf(v, 4, be)};
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
        t.addLongs(exif, 40962, {(uint32_t)s.width});
        t.addLongs(exif, 40963, {(uint32_t)s.height});
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

namespace {

// A CIFF record: a heap value (bytes, or a nested heap) or an in-record value (8 bytes).
struct CiffRecord {
    int tagWord;
    std::vector<unsigned char> data;
};

// A heap: the values one after another, then the directory, then its offset.
std::vector<unsigned char> heapOf(const std::vector<CiffRecord>& records, bool be) {
    std::vector<unsigned char> out, dir = bytesOf({(uint32_t)records.size()}, 2, be);
    for (const CiffRecord& r : records) {
        std::vector<unsigned char> e = bytesOf({(uint32_t)r.tagWord}, 2, be);
        if ((r.tagWord & 0xC000) == 0x4000) {
            e.insert(e.end(), r.data.begin(), r.data.end());
            e.resize(10, 0);
        } else {
            std::vector<unsigned char> lo = bytesOf({(uint32_t)r.data.size(), (uint32_t)out.size()}, 4, be);
            e.insert(e.end(), lo.begin(), lo.end());
            out.insert(out.end(), r.data.begin(), r.data.end());
        }
        dir.insert(dir.end(), e.begin(), e.end());
    }
    const uint32_t dirAt = (uint32_t)out.size();
    out.insert(out.end(), dir.begin(), dir.end());
    std::vector<unsigned char> tail = bytesOf({dirAt}, 4, be);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// Canonical codes of a description: 16 counts, then the symbols.
void canonicalCodes(const unsigned char* d, uint32_t code[256], int len[256]) {
    for (int i = 0; i < 256; i++) len[i] = 0;
    uint32_t c = 0;
    int k = 16;
    for (int l = 1; l <= 16; l++) {
        for (int n = 0; n < d[l - 1]; n++, k++) {
            if (!len[d[k]]) {
                code[d[k]] = c;
                len[d[k]] = l;
            }
            c++;
        }
        c <<= 1;
    }
}

int bitLength(int v) {
    int n = 0;
    for (unsigned a = (unsigned)(v < 0 ? -v : v); a; a >>= 1) n++;
    return n;
}

}  // namespace

std::vector<unsigned char> encodeCrwBlocks(const std::vector<uint16_t>& samples, int width, int table) {
    uint32_t c1[256], c2[256];
    int l1[256], l2[256];
    canonicalCodes(cPictCRW::kFirstTree[table], c1, l1);
    canonicalCodes(cPictCRW::kSecondTree[table], c2, l2);
    BitWriterMSB w(true);
    auto value = [&](int v, int len) {
        if (len) w.put((uint32_t)(v < 0 ? v + (1 << len) - 1 : v), len);
    };
    int base[2] = {512, 512}, carry = 0;
    for (size_t b = 0; b < samples.size(); b += 64) {
        int diff[64] = {};
        for (int p = 0; p < 64 && b + p < samples.size(); p++) {
            const size_t n = b + p;
            if (n % (size_t)width == 0) base[0] = base[1] = 512;
            diff[p] = samples[n] - base[p & 1];
            base[p & 1] = samples[n];
        }
        const int dc = diff[0] - carry;
        carry = diff[0];
        const int dl = bitLength(dc);
        w.put(c1[dl], l1[dl]);
        value(dc, dl);
        int last = 0;
        for (int p = 1; p < 64; p++)
            if (diff[p]) last = p;
        int i = 1;
        for (int p = 1; p <= last; p++) {
            if (!diff[p]) continue;
            int run = p - i;
            while (run >= 16) {
                w.put(c2[0xF0], l2[0xF0]);
                run -= 16;
            }
            const int len = bitLength(diff[p]), sym = run << 4 | len;
            w.put(c2[sym], l2[sym]);
            value(diff[p], len);
            i = p + 1;
        }
        if (last < 63) w.put(c2[0], l2[0]);
    }
    w.align(false);
    return w.out;
}

std::vector<unsigned char> writeCrw(const CrwSpec& s) {
    const bool be = s.bigEndian;
    const size_t count = (size_t)s.sensorWidth * s.sensorHeight;
    std::vector<uint16_t> high(s.frame);
    std::vector<unsigned char> low;
    if (s.lowBits) {
        low.assign(count / 4, 0);
        for (size_t n = 0; n < count; n++) {
            high[n] = (uint16_t)(s.frame[n] >> 2);
            low[n / 4] |= (unsigned char)((s.frame[n] & 3) << (2 * (n % 4)));
        }
    }
    // Sensor data: the low bits, then codeOffset bytes the decoder passes over, then the code.
    std::vector<unsigned char> sensor = low;
    sensor.resize(sensor.size() + (size_t)s.codeOffset, 0);
    std::vector<unsigned char> code = encodeCrwBlocks(high, s.sensorWidth, s.table);
    sensor.insert(sensor.end(), code.begin(), code.end());
    // Real sensor data runs for megabytes; the peers judge whether low bits are present from
    // the file's first 16 KiB, so the records that follow must not fall inside them.
    if (sensor.size() < 16384) sensor.resize(16384, 0);

    std::vector<CiffRecord> camera;
    std::vector<unsigned char> makeModel = {'C', 'a', 'n', 'o', 'n', 0};
    for (char ch : std::string("Canon EOS KIT")) makeModel.push_back((unsigned char)ch);
    makeModel.push_back(0);
    camera.push_back({0x080A, makeModel});
    std::vector<uint32_t> shot(7, 0);
    shot[6] = (uint32_t)s.wbIndex;
    camera.push_back({0x102A, bytesOf(shot, 2, be)});
    camera.push_back({0x1031, bytesOf({34, (uint32_t)s.sensorWidth, (uint32_t)s.sensorHeight, 1, 1,
                                       (uint32_t)s.leftBorder, (uint32_t)s.topBorder,
                                       (uint32_t)(s.leftBorder + s.width - 1), (uint32_t)(s.topBorder + s.height - 1),
                                       0, 0, 0, 0, 0, 0, 0, 0},
                                      2, be)});
    if (s.balanceLength) {
        std::vector<uint32_t> bal((size_t)s.balanceLength / 2, 0);
        const size_t at = (size_t)(8 * s.wbIndex + 2) / 2;
        for (int i = 0; i < 4 && at + i < bal.size(); i++) bal[at + i] = s.levels[i];
        std::vector<unsigned char> b = bytesOf(bal, 2, be);
        b.resize((size_t)s.balanceLength, 0);
        camera.push_back({0x10A9, b});
    }
    camera.push_back({0x5834, bytesOf({s.modelId}, 4, be)});
    camera.push_back({0x1835, bytesOf({(uint32_t)s.table, 0, (uint32_t)s.codeOffset, 0}, 4, be)});

    // Width, height, pixel aspect ratio 1.0 (a float), then rotation and the rest.
    std::vector<unsigned char> info = bytesOf({(uint32_t)s.width, (uint32_t)s.height, 0x3F800000u}, 4, be);
    info.resize(28, 0);
    std::vector<CiffRecord> image = {{0x1810, info}, {0x300B, heapOf(camera, be)}};
    std::vector<CiffRecord> root = {{0x2005, sensor}};
    if (!s.preview.empty()) root.push_back({0x2007, s.preview});
    root.push_back({0x300A, heapOf(image, be)});

    std::vector<unsigned char> file = {(unsigned char)(be ? 'M' : 'I'), (unsigned char)(be ? 'M' : 'I')};
    std::vector<unsigned char> start = bytesOf({26}, 4, be);
    file.insert(file.end(), start.begin(), start.end());
    for (char ch : std::string("HEAPCCDR")) file.push_back((unsigned char)ch);
    std::vector<unsigned char> version = bytesOf({2, 1}, 2, be);  // as cameras write it
    file.insert(file.end(), version.begin(), version.end());
    file.resize(26, 0);
    std::vector<unsigned char> heap = heapOf(root, be);
    file.insert(file.end(), heap.begin(), heap.end());
    return file;
}

namespace {

std::vector<unsigned char> box(const char* type, const std::vector<unsigned char>& payload, bool longSize = false) {
    std::vector<unsigned char> out;
    if (longSize) {
        out = bytesOf({1}, 4, true);
        out.insert(out.end(), type, type + 4);
        const uint64_t n = payload.size() + 16;
        std::vector<unsigned char> sz = bytesOf({(uint32_t)(n >> 32), (uint32_t)n}, 4, true);
        out.insert(out.end(), sz.begin(), sz.end());
    } else {
        out = bytesOf({(uint32_t)(payload.size() + 8)}, 4, true);
        out.insert(out.end(), type, type + 4);
    }
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<unsigned char> uuidBox(const unsigned char (&id)[16], std::vector<unsigned char> payload) {
    payload.insert(payload.begin(), id, id + 16);
    return box("uuid", payload);
}

const unsigned char kCanonUuid[16] = {0x85, 0xc0, 0xb6, 0x87, 0x82, 0x0f, 0x11, 0xe0,
                                      0x81, 0x11, 0xf4, 0xce, 0x46, 0x2b, 0x6a, 0x48};
const unsigned char kPreviewUuid[16] = {0xea, 0xf4, 0x2b, 0x5e, 0x1c, 0x98, 0x4b, 0x88,
                                        0xb9, 0xfb, 0xb7, 0xdc, 0x40, 0x6e, 0x4d, 0x16};

}  // namespace

std::vector<unsigned char> writeCr3(const Cr3Spec& s) {
    std::vector<unsigned char> file = box("ftyp", {'c', 'r', 'x', ' ', 0, 0, 0, 1, 'c', 'r', 'x', ' ', 'i', 's', 'o', 'm'});
    TiffWriter t(false, false);
    int i0 = t.newIfd();
    t.addLongs(i0, 256, {(uint32_t)s.width});
    t.addLongs(i0, 257, {(uint32_t)s.height});
    t.addAscii(i0, 271, "Canon");
    std::vector<unsigned char> cmt = box("CMT1", t.write(i0));
    for (int i = 0; i < s.uuidNesting; i++) cmt = uuidBox(kCanonUuid, cmt);
    std::vector<unsigned char> moov = box("moov", uuidBox(kCanonUuid, cmt));
    file.insert(file.end(), moov.begin(), moov.end());
    if (!s.preview.empty()) {
        // Eight bytes, then the "PRVW" box: 4 zero, 1, width, height, 1 (SHORTs), the length.
        std::vector<unsigned char> p = {0, 0, 0, 0, 0, 0, 0, 1};
        std::vector<unsigned char> prvw = {0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
        std::vector<unsigned char> len = bytesOf({(uint32_t)s.preview.size()}, 4, true);
        prvw.insert(prvw.end(), len.begin(), len.end());
        prvw.insert(prvw.end(), s.preview.begin(), s.preview.end());
        std::vector<unsigned char> pb = box("PRVW", prvw);
        p.insert(p.end(), pb.begin(), pb.end());
        std::vector<unsigned char> u = uuidBox(kPreviewUuid, p);
        file.insert(file.end(), u.begin(), u.end());
    }
    std::vector<unsigned char> mdat = box("mdat", s.jpeg, s.longMdatSize);
    file.insert(file.end(), mdat.begin(), mdat.end());
    return file;
}

}  // namespace rawkit
