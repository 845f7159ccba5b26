// Canon CRW. Every heap is a window of its parent, so a record can only reach inside the
// heap that lists it; directories are checked to fit their heap; the sample frame is sized
// from the sensor geometry only after the coded data was found large enough for it, and the
// 64-sample block loop stores only positions inside the frame.
#include "picts/raw/canon/pictcrw.h"

#include <cstring>

#include "base/memio.h"
#include "compression/haffmantable.h"
#include "picts/rawcore/interpolate.h"
#include "picts/rawcore/rawbayer.h"
#include "picts/rawcore/rawbits.h"
#include "picts/raw/rawpreview.h"
#include "picts/rawcore/rawtiffwalk.h"
#include "picts/rawcore/rawtone.h"
#include "picts/sizecheck.h"

const unsigned char cPictCRW::kFirstTree[3][29] = {
    {0, 1, 4, 2, 3, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 3, 5, 6, 2, 7, 1, 8, 9, 0, 10, 11, 255},
    {0, 2, 2, 3, 1, 1, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 3, 2, 4, 1, 5, 0, 6, 7, 9, 8, 10, 11, 255},
    {0, 0, 6, 3, 1, 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 6, 5, 7, 4, 8, 3, 9, 2, 0, 10, 1, 11, 255},
};

const unsigned char cPictCRW::kSecondTree[3][180] = {
    {0,   2,   2,   2,   1,   4,   2,   1,   2,   5,   1,   1,   0,   0,   0,   139, 3,   4,   2,   5,   1,   6,   7,
     8,   18,  19,  17,  20,  9,   21,  34,  0,   33,  22,  10,  240, 35,  23,  36,  49,  50,  24,  25,  51,  37,  65,
     52,  66,  53,  81,  54,  55,  56,  41,  121, 38,  26,  57,  86,  87,  40,  39,  82,  85,  88,  67,  118, 89,  119,
     84,  97,  249, 113, 120, 117, 150, 151, 73,  183, 83,  215, 116, 182, 152, 71,  72,  149, 105, 153, 145, 250, 184,
     104, 181, 185, 214, 247, 216, 103, 70,  69,  148, 137, 248, 129, 213, 246, 180, 136, 177, 42,  68,  114, 217, 135,
     102, 212, 245, 58,  167, 115, 169, 168, 134, 98,  199, 101, 200, 201, 161, 244, 209, 233, 90,  146, 133, 166, 231,
     147, 232, 193, 198, 122, 100, 225, 74,  106, 230, 179, 241, 211, 165, 138, 178, 154, 186, 132, 164, 99,  229, 197,
     243, 210, 196, 130, 170, 218, 228, 242, 202, 131, 163, 162, 195, 234, 194, 226, 227, 255, 255},
    {0,   2,   2,   1,   4,   1,   4,   1,   3,   3,   1,   0,   0,   0,   0,   140, 2,   3,   1,   4,   5,   18,  17,
     6,   19,  7,   8,   20,  34,  9,   33,  0,   35,  21,  49,  50,  10,  22,  240, 36,  51,  65,  66,  25,  23,  37,
     24,  81,  52,  67,  82,  41,  53,  97,  57,  113, 98,  54,  83,  38,  56,  26,  55,  129, 39,  145, 121, 85,  69,
     40,  114, 89,  161, 177, 68,  105, 84,  88,  209, 250, 87,  225, 241, 185, 73,  71,  99,  106, 249, 86,  70,  168,
     42,  74,  120, 153, 58,  117, 116, 134, 101, 193, 118, 182, 150, 214, 137, 133, 201, 245, 149, 180, 199, 247, 138,
     151, 184, 115, 183, 216, 217, 135, 167, 122, 72,  130, 132, 234, 244, 166, 197, 90,  148, 164, 198, 146, 195, 104,
     181, 200, 228, 229, 230, 233, 162, 163, 227, 194, 102, 103, 147, 170, 212, 213, 231, 248, 136, 154, 215, 119, 196,
     100, 226, 152, 165, 202, 218, 232, 243, 246, 169, 178, 179, 242, 210, 131, 186, 211, 255, 255},
    {0,   0,   6,   2,   1,   3,   3,   2,   5,   1,   2,   2,   8,   10,  0,   117, 4,   5,   3,   6,   2,   7,   1,
     8,   9,   18,  19,  20,  17,  21,  10,  22,  23,  240, 0,   34,  33,  24,  35,  25,  36,  50,  49,  37,  51,  56,
     55,  52,  53,  54,  57,  121, 87,  88,  89,  40,  86,  120, 39,  65,  41,  119, 38,  66,  118, 153, 26,  85,  152,
     151, 249, 72,  84,  150, 137, 71,  183, 73,  250, 117, 104, 182, 103, 105, 185, 184, 216, 82,  215, 136, 181, 116,
     81,  70,  217, 248, 58,  214, 135, 69,  122, 149, 213, 246, 134, 180, 169, 148, 83,  42,  168, 67,  245, 247, 212,
     102, 167, 90,  68,  138, 201, 232, 200, 231, 154, 106, 115, 74,  97,  199, 244, 198, 101, 233, 114, 230, 113, 145,
     147, 166, 218, 146, 133, 98,  243, 197, 178, 164, 132, 186, 100, 165, 179, 210, 129, 229, 211, 170, 196, 202, 242,
     177, 228, 209, 131, 99,  234, 195, 226, 130, 241, 163, 194, 161, 193, 227, 162, 225, 255, 255},
};

namespace {

enum {
    tgSensorData = 8197, tgPreview = 8199, tgImageHeap = 12298, tgImageInfo = 6160, tgCameraHeap = 12299,
    tgShotInfo = 4138, tgSensorInfo = 4145, tgColorBalance = 4265, tgModelId = 6196, tgDecoderTable = 6197,
};

// Reads length bytes at offset of a heap into out.
bool readRecord(cFileIOTarget* heap, unsigned int offset, unsigned int length, unsigned char* out) {
    return (unsigned long long)offset + length <= heap->size() && readAt(heap, offset, out, length);
}

class cMainCRWProps : public cCRWTagProcessor {
public:
    bool onTag(cFileIOTarget*, int tag, unsigned int length, unsigned int offset, bool inHeap) override {
        if (tag != tgSensorData && tag != tgPreview && tag != tgImageHeap) return true;
        if (!inHeap) return false;
        (tag == tgSensorData ? sensor : tag == tgPreview ? preview : image)[0] = offset;
        (tag == tgSensorData ? sensor : tag == tgPreview ? preview : image)[1] = length;
        return true;
    }
    unsigned int sensor[2] = {}, preview[2] = {}, image[2] = {};  // offset, length
};

class cImageCRWProps : public cCRWTagProcessor {
public:
    bool onTag(cFileIOTarget* heap, int tag, unsigned int length, unsigned int offset, bool inHeap) override {
        if (tag == tgImageInfo) {
            unsigned char b[28];
            if (!inHeap || length != 28 || !readRecord(heap, offset, 28, b)) return false;
            width = rawGet32(b, myBigEndian);
            height = rawGet32(b + 4, myBigEndian);
            return width && height;
        }
        if (tag == tgCameraHeap) {
            if (!inHeap) return false;
            camera[0] = offset;
            camera[1] = length;
        }
        return true;
    }
    unsigned int width = 0, height = 0, camera[2] = {};
};

class cExifCRWProps : public cCRWTagProcessor {
public:
    explicit cExifCRWProps(cPictCRW::sInfo& info) : myInfo(info) {}
    bool onTag(cFileIOTarget* heap, int tag, unsigned int length, unsigned int offset, bool inHeap) override {
        unsigned char b[16];
        switch (tag) {
            case tgModelId:
                // An in-record value: its first word, read in the file's byte order.
                if (inHeap) return false;
                memcpy(b, &length, 4);
                myInfo.modelId = rawGet32(b, myBigEndian);
                return true;
            case tgShotInfo:
                if (!inHeap || length < 14 || !readRecord(heap, offset + 12, 2, b)) return false;
                myInfo.wbIndex = (int)rawGet16(b, myBigEndian);
                if (myInfo.wbIndex >= 10) myInfo.wbIndex = myInfo.wbIndex == 14 ? 1 : 6;
                return true;
            case tgSensorInfo:
                if (!inHeap || length < 14 || !readRecord(heap, offset, 14, b)) return false;
                for (int i = 0; i < 7; i++) myInfo.sensor[i] = (unsigned short)rawGet16(b + 2 * i, myBigEndian);
                return true;
            case tgColorBalance: {
                if (!inHeap || length < 10) return false;
                // The index's 8 bytes must lie inside the record; else the first set is read.
                unsigned long long at = 8ULL * (unsigned int)myInfo.wbIndex + 2;
                if (at + 8 > length) at = 2;
                if (!readRecord(heap, offset + (unsigned int)at, 8, b)) return false;
                // Stored red, green, second green, blue.
                myInfo.levels[0] = rawGet16(b, myBigEndian);
                myInfo.levels[1] = rawGet16(b + 2, myBigEndian);
                myInfo.levels[3] = rawGet16(b + 4, myBigEndian);
                myInfo.levels[2] = rawGet16(b + 6, myBigEndian);
                return true;
            }
            case tgDecoderTable:
                if (!inHeap || length < 16 || !readRecord(heap, offset, 16, b)) return false;
                myInfo.table = rawGet32(b, myBigEndian);
                myInfo.codeOffset = rawGet32(b + 8, myBigEndian);
                return true;
            default: return true;
        }
    }

private:
    cPictCRW::sInfo& myInfo;
};

}  // namespace

bool cCRWTagProcessor::process(cFileIOTarget* heap, bool bigEndian) {
    myBigEndian = bigEndian;
    const unsigned long long size = heap ? heap->size() : 0;
    unsigned char b[10];
    if (size < 6 || !heap->set_fp(size - 4) || !heap->readf(b, 4)) return false;
    const unsigned long long dir = rawGet32(b, bigEndian);
    if (dir + 2 > size - 4 || !heap->set_fp(dir) || !heap->readf(b, 2)) return false;
    const unsigned int count = rawGet16(b, bigEndian);
    if (!count || dir + 2 + 10ULL * count > size) return false;
    for (unsigned int i = 0; i < count; i++) {
        if (!heap->set_fp(dir + 2 + 10ULL * i) || !heap->readf(b, 10)) return false;
        const unsigned int word = rawGet16(b, bigEndian), location = word & 0xC000;
        if ((location != 0 && location != 0x4000) || ((word >> 11) & 7) == 7) return false;
        bool ok;
        if (location == 0) {
            ok = onTag(heap, (int)(word & 0x3FFF), rawGet32(b + 2, bigEndian), rawGet32(b + 6, bigEndian), true);
        } else {
            unsigned int first, second;
            memcpy(&first, b + 2, 4);
            memcpy(&second, b + 6, 4);
            ok = onTag(heap, (int)(word & 0x3FFF), first, second, false);
        }
        if (!ok) return false;
    }
    return true;
}

bool cPictCRW::validFor(cFileIOTarget* io, sPictInfo* info) {
    cPictCRW p;
    return p.isPicture(io, info);
}

bool cPictCRW::processStream(cFileIOTarget* io, bool sizeOnly) {
    close();
    myInfo = sInfo();
    if (!io || !io->valid()) return false;
    unsigned char h[14];
    if (!io->set_fp(0) || !io->readf(h, 14)) return false;
    if (h[0] != h[1] || (h[0] != 'I' && h[0] != 'M') || memcmp(h + 6, "HEAPCCDR", 8)) return false;
    myBigEndian = h[0] == 'M';
    const unsigned long long fileSize = io->size();
    const unsigned int start = rawGet32(h + 2, myBigEndian);
    if (start < 14 || start >= fileSize) return false;
    myInfo.heapStart = start;
    cFileIOSubRange root(io, start, fileSize - start);
    cMainCRWProps main;
    if (!main.process(&root, myBigEndian) || !main.image[1] || !main.sensor[1]) return false;
    if ((unsigned long long)main.image[0] + main.image[1] > root.size()) return false;
    if (main.preview[1] && (unsigned long long)main.preview[0] + main.preview[1] <= root.size()) {
        myInfo.previewOffset = start + main.preview[0];
        myInfo.previewLength = main.preview[1];
    }
    if ((unsigned long long)main.sensor[0] + main.sensor[1] > root.size()) return false;
    myInfo.sensorOffset = start + main.sensor[0];
    myInfo.sensorLength = main.sensor[1];
    cFileIOSubRange imageHeap(&root, main.image[0], main.image[1]);
    cImageCRWProps image;
    if (!image.process(&imageHeap, myBigEndian) || !image.width || !image.height) return false;
    myInfo.width = image.width;
    myInfo.height = image.height;
    if (sizeOnly) return true;
    if (!image.camera[1] || (unsigned long long)image.camera[0] + image.camera[1] > imageHeap.size()) return false;
    cFileIOSubRange cameraHeap(&imageHeap, image.camera[0], image.camera[1]);
    cExifCRWProps camera(myInfo);
    return camera.process(&cameraHeap, myBigEndian) && myInfo.modelId;
}

bool cPictCRW::isPicture(cFileIOTarget* io, sPictInfo* info) {
    if (!processStream(io, true)) return false;
    if (info) {
        info->width = myInfo.width;
        info->height = myInfo.height;
        info->hasPreview = myInfo.previewLength != 0;
    }
    return true;
}

bool cPictCRW::decodeSamples(const unsigned char* code, long long codeSize, const unsigned char* low, long long width,
                             long long count, int table, unsigned short* out) {
    if (table < 0 || table > 2 || width < 1 || count < 1) return false;
    _typebuf<unsigned int> first, second;
    const unsigned char* d1 = kFirstTree[table];
    const unsigned char* d2 = kSecondTree[table];
    if (!cHaffmanTable::createIndexTable(d1, first, 29) || !cHaffmanTable::createIndexTable(d2, second, 180))
        return false;
    cRawBitsMSB bits(code, codeSize, true);
    int carry = 0;
    int base[2] = {512, 512};
    for (long long block = 0; block * 64 < count; block++) {
        int diff[64] = {};
        for (int i = 0; i < 64; i++) {
            const int leaf = bits.huff(i ? second : first);
            if (leaf < 0) return false;
            if (leaf == 0 && i) break;
            if (leaf == 0xFF) continue;
            i += leaf >> 4;
            const int len = leaf & 15;
            if (!len) continue;
            int v = (int)bits.get(len);
            if (!(v >> (len - 1))) v -= (1 << len) - 1;
            if (i < 64) diff[i] = v;
        }
        if (bits.overrun()) return false;
        diff[0] += carry;
        carry = diff[0];
        for (int p = 0; p < 64; p++) {
            const long long n = block * 64 + p;
            if (n >= count) break;  // a frame that is no multiple of 64 ends inside its last block
            if (n % width == 0) base[0] = base[1] = 512;
            base[p & 1] += diff[p];
            unsigned int v = (unsigned int)base[p & 1] & 0xFFFF;
            if (low) v = (v << 2 | ((low[n >> 2] >> (2 * (n & 3))) & 3)) & 0xFFFF;
            out[n] = (unsigned short)v;
        }
    }
    return true;
}

bool cPictCRW::decode(cFileIOTarget* io) {
    if (!processStream(io, false)) return false;
    const unsigned int id = myInfo.modelId;
    bool lowBits = false;
    unsigned int white = 1023;
    switch (id) {
        case 0x1140000: case 0x1190000: case 0x1210000: case 0x1290000: case 0x1310000: case 0x1370000:
        case 0x1380000: case 0x1390000: case 0x1400000: case 0x1668000: case 0x80000168: case 0x80000170:
            lowBits = true;
            white = 4095;
            break;
        default: break;
    }
    const long long sw = myInfo.sensor[1], sh = myInfo.sensor[2];
    const long long left = myInfo.sensor[5], top = myInfo.sensor[6];
    const long long w = myInfo.width, h = myInfo.height;
    long long bytes;
    // The picture must lie inside the sensor at its borders.
    if (!checkedImageBytes(sw, sh, 2, bytes) || left + w > sw || top + h > sh) return false;
    const long long count = sw * sh;
    // Each 64-sample block takes at least 4 bits; the low bits take count / 4 bytes.
    const unsigned long long lowSize = lowBits ? (unsigned long long)count / 4 : 0;
    if (myInfo.codeOffset > myInfo.sensorLength) return false;
    if (lowSize + myInfo.codeOffset > myInfo.sensorLength) return false;
    const unsigned long long codeSize = myInfo.sensorLength - myInfo.codeOffset - lowSize;
    if (codeSize * 128 < (unsigned long long)count) return false;
    _typebuf<unsigned char> data;
    _typebuf<unsigned short> frame;
    if (!data.set(myInfo.sensorLength) || !io->set_fp(myInfo.sensorOffset) ||
        !io->readf(data.ptr, myInfo.sensorLength) || !frame.set(count))
        return false;
    // The low bits lead the sensor data; the code follows them past the table's offset.
    const unsigned char* code = data.ptr + lowSize + myInfo.codeOffset;
    if (!decodeSamples(code, (long long)codeSize, lowBits ? data.ptr : nullptr, sw, count, (int)myInfo.table,
                       frame.ptr))
        return false;
    sMarginInfo margins;
    margins.left = (unsigned int)left;
    margins.right = (unsigned int)(sw - left - w);
    margins.top = (unsigned int)top;
    margins.bottom = (unsigned int)(sh - top - h);
    if (id == 0x3010000 || id == 0x4040000) {
        // Four-colour sensors.
        static const unsigned char kCmyg[4] = {1, 2, 3, 0};
        static const double kMix[3][4] = {{0.0, 2.0, -0.5, -0.2}, {-0.2, 0.0, 2.0, 1.0}, {1.0, -0.5, 2.0, -0.2}};
        sCFAData cfa;
        cfa.rows = cfa.cols = 2;
        cfa.pattern.set(kCmyg, 4);
        cBayerFilter* filter = cBayerFilter::newFilter(cfa);
        if (!filter || !allocPixels(w, h, true)) {
            delete filter;
            return false;
        }
        cStreamGuardProgressTarget guard(io);
        sInterpolateInfo info;
        info.raw = frame.ptr;
        info.pixels = raw16Bpp();
        info.width = sw;
        info.height = sh;
        info.filter = filter;
        info.progress = &guard;
        info.flip = true;
        bool ok = interpolateLinearNonRGB(info, kMix, &margins);
        delete filter;
        if (!ok || !finishRawTone(raw16Bpp(), w * h, 0.999, 2.2, 1.5, &guard, &guard)) {
            close();
            return false;
        }
        return true;
    }
    unsigned int black = 0;
    if (id == 0x1668000 || id == 0x80000168 || id == 0x80000170) {
        black = 128;
        white = 4000;
    }
    const double* lv = myInfo.levels;
    double least = lv[0];
    for (int c = 1; c < 4; c++)
        if (lv[c] != 0 && lv[c] < least) least = lv[c];
    const double scale = 65535.0 / (double)(white - black);
    static const unsigned char kRggb[4] = {0, 1, 1, 2};
    sCFAData cfa;
    cfa.rows = cfa.cols = 2;
    cfa.pattern.set(kRggb, 4);
    sRawBayerJob job;
    job.raw = frame.ptr;
    job.width = sw;
    job.height = sh;
    job.cfa = &cfa;
    for (int c = 0; c < 4; c++) job.mul[c] = rawClampMul(least != 0 ? lv[c] * scale / least : scale);
    job.black = black;
    job.margins = margins;
    return rawBayerFinish(*this, job, io);
}

bool cPictCRW::getPreview(cFileIOTarget* io, cPictBase* target, long long* maxWidth, long long* maxHeight) {
    if (!processStream(io, true) || !myInfo.previewLength) return false;
    return rawJpegPreview(io, myInfo.previewOffset, myInfo.previewLength, target, maxWidth, maxHeight);
}
