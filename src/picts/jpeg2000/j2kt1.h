// cJP2Tier1: embedded block decoding of one code-block (T.800 Annex D): significance
// propagation, magnitude refinement and cleanup passes over the bit-planes, with the MQ
// decoder or raw bits (bypass), every code-block style, ROI de-scaling (Annex H) and
// dequantisation (Annex E). Working buffers are kept from block to block.
#pragma once

#include "picts/jpeg2000/j2kraw.h"
#include "picts/jpeg2000/j2kmq.h"
#include "picts/jpeg2000/j2ktile.h"

class cJP2Tier1 {
public:
    enum eCblkStyle {
        kBypass = 1,   // selective arithmetic coding bypass
        kReset = 2,    // reset context probabilities on coding pass boundaries
        kTermAll = 4,  // termination on each coding pass
        kVsc = 8,      // vertically stripe-causal context
        kPterm = 16,   // predictable termination
        kSegSym = 32   // segmentation symbols
    };

    // Decodes cb (its data in the tile's data) and writes its samples at dst (row stride in
    // samples): integers halved for the reversible path, floats times stepsize otherwise.
    // False only when the block's sizes are refused or its working buffers cannot be had.
    bool decodeCblk(const sJP2Cblk& cb, const uint8_t* tileData, unsigned int bandno, unsigned int roishift,
                    unsigned int cblksty, bool reversible, float stepsize, int* dst, long long stride);

private:
    enum { kCtxRl = cJP2MQCoder::kCtxRl, kCtxUni = cJP2MQCoder::kCtxUni };

    template <bool Vsc, bool Raw>
    void sigPass(int bp);
    template <bool Vsc, bool Raw>
    void refPass(int bp);
    template <bool Vsc>
    void clnPass(int bp, bool segsym);

    static inline void becomeSignificant(uint32_t* c, int* v, int k, int neg, int bp, int fs);

    cJP2MQCoder myMq;
    cJP2Raw myRaw;
    bool myRawMode = false;
    unsigned int myOrient = 0;
    int myW = 0, myH = 0, myFs = 0;  // block size and the stripe stride of the column words
    _typebuf<int> myData;        // coefficients, four per stripe column
    _typebuf<uint32_t> myFlags;  // one state word per stripe column, with a border
    _typebuf<uint8_t> myBytes;   // a segment's bytes gathered from several packets
};
