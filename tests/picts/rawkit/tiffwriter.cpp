// TIFF/BigTIFF/DNG writer of the raw test kit (TIFF 6.0, BigTIFF, DNG 1.4 layouts).
#include "tiffwriter.h"

#include <algorithm>

#include "ljpegenc.h"

namespace rawkit {

std::vector<unsigned char> TiffWriter::un(uint64_t v, int n) const {
    std::vector<unsigned char> r;
    for (int i = 0; i < n; i++) r.push_back((unsigned char)(v >> (8 * (myBE ? n - 1 - i : i))));
    return r;
}

int TiffWriter::newIfd() {
    myIfds.emplace_back();
    return (int)myIfds.size() - 1;
}

TiffWriter::Entry& TiffWriter::add(int ifd, int tag, int type, uint64_t count) {
    Entry e;
    e.tag = tag;
    e.type = type;
    e.count = count;
    myIfds[ifd].entries.push_back(e);
    return myIfds[ifd].entries.back();
}

void TiffWriter::addShorts(int ifd, int tag, const std::vector<uint32_t>& v) {
    Entry& e = add(ifd, tag, tShort, v.size());
    for (uint32_t x : v) {
        auto b = u16(x);
        e.data.insert(e.data.end(), b.begin(), b.end());
    }
}

void TiffWriter::addLongs(int ifd, int tag, const std::vector<uint32_t>& v) {
    Entry& e = add(ifd, tag, tLong, v.size());
    for (uint32_t x : v) {
        auto b = u32(x);
        e.data.insert(e.data.end(), b.begin(), b.end());
    }
}

void TiffWriter::addAscii(int ifd, int tag, const std::string& s) {
    Entry& e = add(ifd, tag, tAscii, s.size() + 1);
    e.data.assign(s.begin(), s.end());
    e.data.push_back(0);
}

void TiffWriter::addBytes(int ifd, int tag, int type, const std::vector<unsigned char>& v) {
    Entry& e = add(ifd, tag, type, v.size());
    e.data = v;
}

void TiffWriter::addRationals(int ifd, int tag, const std::vector<std::pair<uint32_t, uint32_t>>& v, bool isSigned) {
    Entry& e = add(ifd, tag, isSigned ? tSRational : tRational, v.size());
    for (auto& r : v) {
        auto a = u32(r.first), b = u32(r.second);
        e.data.insert(e.data.end(), a.begin(), a.end());
        e.data.insert(e.data.end(), b.begin(), b.end());
    }
}

void TiffWriter::addIfdPointers(int ifd, int tag, const std::vector<int>& children) {
    Entry& e = add(ifd, tag, myBig ? tLong8 : tLong, children.size());
    e.children = children;
}

void TiffWriter::addBlocks(int ifd, int offTag, int countTag, const std::vector<std::vector<unsigned char>>& blocks) {
    Entry& e = add(ifd, offTag, myBig ? tLong8 : tLong, blocks.size());
    e.blocks = blocks;
    e.countTag = countTag;
    std::vector<uint32_t> counts;
    for (auto& b : blocks) counts.push_back((uint32_t)b.size());
    addLongs(ifd, countTag, counts);
}

void TiffWriter::chain(int ifd, int next) { myIfds[ifd].next = next; }

uint64_t TiffWriter::blockOffset(int ifd, int tag, size_t index) const {
    for (auto& e : myIfds[ifd].entries)
        if (e.tag == tag && index < e.placed.size()) return e.placed[index];
    return 0;
}

std::vector<unsigned char> TiffWriter::write(int first) {
    std::vector<unsigned char> b;
    auto append = [&](const std::vector<unsigned char>& v) { b.insert(b.end(), v.begin(), v.end()); };
    auto patch = [&](size_t at, uint64_t v, int n) {
        auto bytes = un(v, n);
        std::copy(bytes.begin(), bytes.end(), b.begin() + (long)at);
    };
    const int offSize = myBig ? 8 : 4;
    b.push_back(myBE ? 'M' : 'I');
    b.push_back(myBE ? 'M' : 'I');
    append(u16(myBig ? 43 : 42));
    if (myBig) {
        append(u16(8));
        append(u16(0));
    }
    size_t firstAt = b.size();
    append(un(0, offSize));
    // Directories in the order met from the first, each followed by its values and blocks.
    std::vector<uint64_t> ifdOffset(myIfds.size(), 0);
    std::vector<std::pair<size_t, int>> pointerPatches;  // position, directory
    std::vector<int> order = {first};
    for (size_t k = 0; k < order.size(); k++) {
        Ifd& d = myIfds[order[k]];
        for (auto& e : d.entries)
            for (int c : e.children)
                if (std::find(order.begin(), order.end(), c) == order.end()) order.push_back(c);
        if (d.next >= 0 && std::find(order.begin(), order.end(), d.next) == order.end()) order.push_back(d.next);
    }
    for (int id : order) {
        Ifd& d = myIfds[id];
        std::stable_sort(d.entries.begin(), d.entries.end(), [](const Entry& a, const Entry& c) { return a.tag < c.tag; });
        if (b.size() & 1) b.push_back(0);
        ifdOffset[id] = b.size();
        append(un(d.entries.size(), myBig ? 8 : 2));
        std::vector<size_t> valueAt(d.entries.size());
        for (size_t i = 0; i < d.entries.size(); i++) {
            Entry& e = d.entries[i];
            append(u16((uint32_t)e.tag));
            append(u16((uint32_t)e.type));
            append(un(e.count, offSize));
            valueAt[i] = b.size();
            append(un(0, offSize));
        }
        size_t nextAt = b.size();
        append(un(0, offSize));
        if (d.next >= 0) pointerPatches.push_back({nextAt, d.next});
        for (size_t i = 0; i < d.entries.size(); i++) {
            Entry& e = d.entries[i];
            const int elem = e.children.size() || e.blocks.size() ? offSize : 0;
            if (elem) {
                // Offsets: inline when they fit, else an array placed here.
                size_t at = valueAt[i];
                if (e.count * elem > (uint64_t)offSize) {
                    if (b.size() & 1) b.push_back(0);
                    patch(valueAt[i], b.size(), offSize);
                    at = b.size();
                    append(std::vector<unsigned char>(e.count * elem, 0));
                }
                for (size_t c = 0; c < e.children.size(); c++) pointerPatches.push_back({at + c * elem, e.children[c]});
                e.placed.clear();
                for (size_t c = 0; c < e.blocks.size(); c++) {
                    if (b.size() & 1) b.push_back(0);
                    e.placed.push_back(b.size());
                    patch(at + c * elem, b.size(), elem);
                    append(e.blocks[c]);
                }
                continue;
            }
            if (e.data.size() <= (size_t)offSize) {
                std::copy(e.data.begin(), e.data.end(), b.begin() + (long)valueAt[i]);
            } else {
                if (b.size() & 1) b.push_back(0);
                patch(valueAt[i], b.size(), offSize);
                append(e.data);
            }
        }
    }
    patch(firstAt, ifdOffset[first], offSize);
    for (auto& p : pointerPatches) patch(p.first, ifdOffset[p.second], offSize);
    return b;
}

std::vector<unsigned char> writeDng(const DngSpec& s, DngBlocks* blocks) {
    TiffWriter t(s.bigEndian, false);
    int ifd0 = t.newIfd(), raw = t.newIfd();
    t.addLongs(ifd0, 254, {1});
    t.addBytes(ifd0, 50706, TiffWriter::tByte, {s.version[0], s.version[1], s.version[2], s.version[3]});
    t.addBytes(ifd0, 50707, TiffWriter::tByte, {1, 1, 0, 0});
    t.addAscii(ifd0, 271, s.make);
    t.addAscii(ifd0, 272, s.model);
    t.addAscii(ifd0, 50708, s.make + " " + s.model);
    // A plain identity colour matrix (XYZ to camera) so colour-aware readers accept the file.
    t.addRationals(ifd0, 50721, {{10000, 10000}, {0, 1}, {0, 1}, {0, 1}, {10000, 10000}, {0, 1}, {0, 1}, {0, 1}, {10000, 10000}}, true);
    t.addShorts(ifd0, 50778, {21});
    t.addIfdPointers(ifd0, 330, {raw});
    t.addLongs(raw, 254, {0});
    t.addLongs(raw, 256, {(uint32_t)s.width});
    t.addLongs(raw, 257, {(uint32_t)s.height});
    t.addShorts(raw, 258, {(uint32_t)s.bits});
    t.addShorts(raw, 259, {s.ljpeg ? 7u : 1u});
    t.addShorts(raw, 262, {32803});
    t.addShorts(raw, 277, {1});
    t.addShorts(raw, 284, {1});
    t.addShorts(raw, 33421, {2, 2});
    t.addBytes(raw, 33422, TiffWriter::tByte, {s.cfa[0], s.cfa[1], s.cfa[2], s.cfa[3]});
    t.addLongs(raw, 50714, {s.black});
    t.addLongs(raw, 50717, {s.white});
    if (!s.ljpeg) {
        std::vector<unsigned char> strip;
        for (uint16_t v : s.frame) {
            auto b = t.u16(v);
            strip.insert(strip.end(), b.begin(), b.end());
        }
        t.addLongs(raw, 278, {(uint32_t)s.height});
        t.addBlocks(raw, 273, 279, {strip});
        std::vector<unsigned char> file = t.write(ifd0);
        if (blocks) *blocks = DngBlocks{{t.blockOffset(raw, 273, 0)}, {strip.size()}};
        return file;
    }
    const int tw = s.tileWidth ? s.tileWidth : s.width, th = s.tileHeight ? s.tileHeight : s.height;
    std::vector<std::vector<unsigned char>> tiles;
    for (int ty = 0; ty < s.height; ty += th)
        for (int tx = 0; tx < s.width; tx += tw) {
            std::vector<uint16_t> tile((size_t)tw * th, 0);
            for (int y = 0; y < th; y++)
                for (int x = 0; x < tw; x++) {
                    // Tiles past the frame's edge repeat its last row and column.
                    int sx = std::min(tx + x, s.width - 1), sy = std::min(ty + y, s.height - 1);
                    tile[(size_t)y * tw + x] = s.frame[(size_t)sy * s.width + sx];
                }
            LjOptions o;
            o.precision = s.bits;
            o.psv = s.psv;
            o.diff16Bits = s.diff16Bits;
            const int jw = s.jpegWidth ? s.jpegWidth : tw / s.components;
            const int jh = (int)(((long long)tw * th + (long long)jw * s.components - 1) / ((long long)jw * s.components));
            tiles.push_back(encodeRawSequence(tile, jw, jh, s.components, o));
        }
    t.addLongs(raw, 322, {(uint32_t)tw});
    t.addLongs(raw, 323, {(uint32_t)th});
    t.addBlocks(raw, 324, 325, tiles);
    std::vector<unsigned char> file = t.write(ifd0);
    if (blocks) {
        blocks->offset.clear();
        blocks->length.clear();
        for (size_t i = 0; i < tiles.size(); i++) {
            blocks->offset.push_back(t.blockOffset(raw, 324, i));
            blocks->length.push_back(tiles[i].size());
        }
    }
    return file;
}

}  // namespace rawkit
