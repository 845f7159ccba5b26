// CR2 metadata walkers. Every value is checked for type and length before it is read; a tag
// the decoder depends on that has the wrong shape stops the walk.
#include "picts/raw/canon/cr2walkers.h"

#include <cstring>

#include "base/strings.h"

namespace {
enum { tByte = 1, tShort = 3, tLong = 4, tUndefined = 7 };
// Shot info entry 7 (white-balance index) to the record of the old colour data.
const char kOldWbDigits[] = "012347800000005896";
}  // namespace

void cCR2MakerNoteProps::reset() {
    modelId = oldFrameOffset = 0;
    memset(sensor, 0, sizeof(sensor));
    memset(shot, 0, sizeof(shot));
    maskDerived = haveShot = false;
    for (int i = 0; i < 4; i++) {
        wbValues[i] = 0;
        levels[i] = 0;
    }
}

bool cCR2MakerNoteProps::decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian,
                                      unsigned long long size) {
    return processStream(io, bigEndian, false, offset, size);
}

bool cCR2MakerNoteProps::parseSensorInfo(int, const void* data, int size) {
    if (!data || size < 2 * siCount) return false;
    const unsigned char* b = (const unsigned char*)data;
    for (int i = 0; i < siCount; i++) sensor[i] = getU16(b + 2 * i);
    if (sensor[siLength] != size) return false;
    maskDerived = false;
    if (!sensor[siMaskRight] && !sensor[siMaskBottom]) {
        // No mask stored: a strip of the left border, over the middle half of the rows.
        const unsigned int border = sensor[siLeftBorder], h = sensor[siHeight];
        sensor[siMaskLeft] = (unsigned short)(border / 2 >= 2 ? border / 2 - 2 : 0);
        sensor[siMaskRight] = (unsigned short)(border / 2 + 2);
        sensor[siMaskTop] = (unsigned short)(h / 4);
        sensor[siMaskBottom] = (unsigned short)(h / 2 + h / 4);
        maskDerived = true;
    }
    return true;
}

bool cCR2MakerNoteProps::parseShotInfo(int type, const void* data, int size) {
    if (type != tShort || !data || size < 42) return false;
    const unsigned char* b = (const unsigned char*)data;
    for (int i = 0; i < 21; i++) shot[i] = getU16(b + 2 * i);
    haveShot = true;
    return true;
}

bool cCR2MakerNoteProps::parseColorData(int type, const void* data, int size) {
    if ((type != tShort && type != tUndefined) || !data) return false;
    const int count = type == tShort ? size / 2 : size;
    if (count < 501) return false;
    const int at = count == 582 ? 50 : count == 653 ? 68 : count == 5120 ? 142 : 126;
    if (at + 8 > size) return false;
    const unsigned char* b = (const unsigned char*)data + at;
    // Stored red, green, second green, blue.
    levels[0] = getU16(b);
    levels[1] = getU16(b + 2);
    levels[3] = getU16(b + 4);
    levels[2] = getU16(b + 6);
    return true;
}

bool cCR2MakerNoteProps::parseColorDataOld(int type, const void* data, int size) {
    if (type != tByte) return false;
    const unsigned int w = shot[7];
    const int digit = w <= 17 ? kOldWbDigits[w] - '0' : 0;
    const int at = 8 + 32 * digit;
    if (!data || at + 16 > size) return true;  // too short for the record: levels unchanged
    const unsigned char* b = (const unsigned char*)data + at;
    // Stored green, red, blue, second green.
    levels[1] = getU32(b);
    levels[0] = getU32(b + 4);
    levels[2] = getU32(b + 8);
    levels[3] = getU32(b + 12);
    return true;
}

bool cCR2MakerNoteProps::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    switch (tag) {
        case 4: return parseShotInfo(type, data, size);
        case 16: return type == tLong && getValU32(p, modelId);
        case 41: return parseColorDataOld(type, data, size);
        case 129: return type == tLong && getValU32(p, oldFrameOffset);
        case 164:
            if (type != tShort) return false;
            if (data && size >= 8)
                for (int i = 0; i < 4; i++) wbValues[i] = getU16((const unsigned char*)data + 2 * i);
            return true;
        case 224: return parseSensorInfo(type, data, size);
        case 16385: return parseColorData(type, data, size);
        default: return true;
    }
}

bool cCR2ExifProps::onTag(int tag, int type, const void* data, int size) {
    if (dirKind() == dkExif && (tag == 40962 || tag == 40963)) {
        unsigned int v;
        if (type == tShort && size == 2 && data) v = getU16(data);
        else if (type == tLong && size == 4 && data) v = getU32(data);
        else return false;
        (tag == 40962 ? pixelWidth : pixelHeight) = v;
    }
    return cExifDecoder::onTag(tag, type, data, size);
}

void cCR2DataProps::reset() {
    canonMake = false;
    slices[0] = slices[1] = slices[2] = 0;
    frameOffset = frameLength = 0;
}

bool cCR2DataProps::decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian, unsigned long long size) {
    return processStream(io, bigEndian, false, offset, size);
}

bool cCR2DataProps::onTag(int tag, int type, const void* data, int size) {
    switch (tag) {
        case 271:
            canonMake = type == 2 && data && size >= 5 && !__memicmp(data, "CANON", 5);
            return true;
        case 50752:
            // Three SHORTs: count, width, last width. Anything else would be read past its value.
            if (type != tShort || size < 6 || !data) return false;
            for (int i = 0; i < 3; i++) slices[i] = getU16((const unsigned char*)data + 2 * i);
            return true;
        case 273:
        case 279: {
            unsigned int v;
            if (type == tLong && size >= 4 && data) v = getU32(data);
            else if (type == tShort && size >= 2 && data) v = getU16(data);
            else return false;
            (tag == 273 ? frameOffset : frameLength) = v;
            return true;
        }
        default: return true;
    }
}

bool cCR2JpegProps::decodeDirect(cFileIOTarget* io, unsigned int offset, bool bigEndian, unsigned long long size) {
    return processStream(io, bigEndian, false, offset, size);
}

bool cCR2JpegProps::onTag(int tag, int type, const void* data, int size) {
    sTagProcessParam p = {tag, type, data, size};
    if (tag == 513) return getValU32(p, jpegOffset);
    if (tag == 514) return getValU32(p, jpegLength);
    return true;
}
