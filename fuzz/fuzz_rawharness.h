// The body shared by the raw decoder fuzz targets: the first byte picks the decoder, the rest
// is the file. Each input is probed, decoded (small frames only, to keep runs fast) and
// asked for its embedded preview, whole and bounded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/memio.h"
#include "picts/pictdummy.h"

inline int fuzzRawDecoder(const uint8_t* data, size_t size, cPictBase* (*make)(unsigned kind)) {
    if (size < 2) return 0;
    cBufWrapperIO io(data + 1, (long long)size - 1);
    cPictBase* p = make(data[0]);
    cPictBase::sPictInfo info;
    if (p->isPicture(&io, &info)) {
        // The frame is decoded when it is small (64K pixels): past a file's end the raw bit
        // readers deliver zero bits (picts/rawcore/rawbits.h), so a few bytes could ask for a
        // frame of any size within the budget and each run would take seconds. The probe, the
        // previews and every reader's header walk still see each input. The probe's sizes are
        // the file's, up to 2^32 each: divided, never multiplied.
        if (info.width > 0 && info.height > 0 && info.width <= (1 << 16) / info.height) {
            io.set_fp(0);
            p->decode(&io);
        }
        cPictDummy whole, bounded;
        io.set_fp(0);
        p->getPreview(&io, &whole, nullptr, nullptr);
        long long mw = 16, mh = 16;
        io.set_fp(0);
        p->getPreview(&io, &bounded, &mw, &mh);
    }
    delete p;
    return 0;
}
