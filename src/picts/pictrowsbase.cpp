// Rows into the picture's own buffer (bottom-up) or through the external rendering target.
#include "picts/pictrowsbase.h"

bool cPictRowsBase::begin(long long width, long long height, bool sixteen) {
    return startFrame(width, height, sixteen, true);
}

bool cPictRowsBase::beginEveryRow(long long width, long long height, bool sixteen) {
    return startFrame(width, height, sixteen, false);
}

bool cPictRowsBase::startFrame(long long width, long long height, bool sixteen, bool clear) {
    long long px;
    if (!checkedPictPixels(width, height, px)) return false;
    if (hasExtTarget()) {
        freePixels();
        myWidth = width;
        myHeight = height;
        my16Bpp = sixteen;
        myExtActive = startExtRender();
        return myExtActive;
    }
    if (!allocPixels(width, height, sixteen)) return false;
    if (!clear) return true;
    if (sixteen)
        myPixels16.zero();
    else
        myPixels.zero();
    return true;
}

unsigned int* cPictRowsBase::target32(long long y) {
    if (myExtActive || my16Bpp || !myPixels.ptr || y < 0 || y >= myHeight) return nullptr;
    return myPixels.ptr + (myHeight - 1 - y) * myWidth;
}

unsigned long long* cPictRowsBase::target64(long long y) {
    if (myExtActive || !my16Bpp || !myPixels16.ptr || y < 0 || y >= myHeight) return nullptr;
    return myPixels16.ptr + (myHeight - 1 - y) * myWidth;
}

void cPictRowsBase::row32(long long y, const unsigned int* px) {
    if (y < 0 || y >= myHeight) return;
    if (myExtActive) {
        const long long sy = myHeight - 1 - y;
        if (!canExtRender(0, myWidth, sy, sy + 1)) return;
        for (long long x = 0; x < myWidth; x++) setExtPix(x, sy, px[x]);
        return;
    }
    unsigned int* d = target32(y);
    if (d && d != px) memcpy(d, px, (size_t)myWidth * sizeof(unsigned int));
}

void cPictRowsBase::row64(long long y, const unsigned long long* px) {
    if (y < 0 || y >= myHeight) return;
    if (myExtActive) {
        const long long sy = myHeight - 1 - y;
        if (!canExtRender(0, myWidth, sy, sy + 1)) return;
        for (long long x = 0; x < myWidth; x++) setExtPix16(x, sy, px[x]);
        return;
    }
    unsigned long long* d = target64(y);
    if (d && d != px) memcpy(d, px, (size_t)myWidth * sizeof(unsigned long long));
}

void cPictRowsBase::startRows() {
    myExtActive = false;
    freePixels();
    myWidth = myHeight = 0;
    my16Bpp = false;
}

bool cPictRowsBase::endRows(bool ok) {
    if (myExtActive) {
        endExtRender();
        myExtActive = false;
    } else if (hasExtTarget()) {
        setExtTarget(nullptr);
    }
    if (!ok) {
        freePixels();
        myWidth = myHeight = 0;
        my16Bpp = false;
    }
    return ok;
}

bool cPictRowsBase::readAll(cFileIOTarget* io, _typebuf<unsigned char>& data, long long maxBytes) {
    return readStreamRest(io, maxBytes, data);
}

long long cPictRowsBase::peek(cFileIOTarget* io, unsigned char* buf, long long n) {
    if (!io) return 0;
    unsigned long long pos = io->get_fp();
    long long got = io->read(buf, n);
    io->set_fp(pos);
    return got < 0 ? 0 : got;
}
