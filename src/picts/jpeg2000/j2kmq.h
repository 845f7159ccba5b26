// cJP2MQCoder: the MQ decoder of a JPEG 2000 code-block (T.800 Annex C): the shared MQ
// decoder's registers and the 19 contexts of T.800 Table D.7 with their initial states.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picts/mqdecoder.h"

class cJP2MQCoder {
public:
    // 0-8 zero coding, 9-13 sign, 14-16 magnitude refinement, then run-length and uniform.
    enum { kContexts = 19, kCtxRl = 17, kCtxUni = 18 };

    // INITDEC (T.800 C.3.5) over len bytes; no data decodes as an empty segment.
    void initDec(const uint8_t* data, size_t len) { myRegs.init(data, (long long)len); }
    // Every context back to its initial state (T.800 Table D.7).
    void resetStates() {
        for (int i = 0; i < kContexts; i++) setState(i, 0, 0);
        setState(0, 0, 4);
        setState(kCtxRl, 0, 3);
        setState(kCtxUni, 0, 46);
    }
    void setState(int ctx, int mps, int index) { myCtx[ctx] = cMQDecoder::context(index, mps); }
    int decode(int cx) { return myRegs.decode(myCtx[cx]); }

    // The passes copy the registers into a local so that they stay in machine registers,
    // and put them back afterwards; the contexts are used in place.
    cMQDecoder& regs() { return myRegs; }
    unsigned int* contexts() { return myCtx; }

private:
    cMQDecoder myRegs;
    unsigned int myCtx[kContexts] = {};
};
