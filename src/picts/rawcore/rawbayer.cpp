// Demosaic and tone finishing shared by the Bayer raw decoders.
#include "picts/rawcore/rawbayer.h"

#include "picts/rawcore/rawtone.h"
#include "picts/tone.h"

bool rawToneFinish(cPictBase& picture, double gamma, unsigned int whiteCap, cFileIOTarget* io) {
    unsigned long long* px = picture.raw16Bpp();
    const long long count = picture.width() * picture.height();
    if (!px || count <= 0) return false;
    cStreamGuardProgressTarget guard(io);
    // In bands (rawtone.h); a flat frame stays linear.
    return finishRawTone(px, count, 0.999, gamma, 0.0, &guard, &guard, whiteCap);
}

bool rawDemosaicPPG(sInterpolateInfo& info, sCFAData& cfa, const sMarginInfo* margins,
                    const double (*matrix)[3]) {
    cBayerFilter* filter = cBayerFilter::newFilter(cfa);
    if (!filter) return false;
    info.filter = filter;
    info.flip = true;
    bool ok = interpolatePPG(info, margins, matrix);
    info.filter = nullptr;
    delete filter;
    return ok;
}

bool rawBayerFinish(cPictBase& picture, sRawBayerJob& job, cFileIOTarget* io) {
    picture.close();
    if (!job.raw || !job.cfa || job.width < 1 || job.height < 1) return false;
    const sMarginInfo& m = job.margins;
    const long long cw = job.width - (long long)m.left - (long long)m.right;
    const long long ch = job.height - (long long)m.top - (long long)m.bottom;
    if (cw < 1 || ch < 1) return false;
    if (!picture.allocPixels(cw, ch, true)) return false;
    cStreamGuardProgressTarget guard(io);
    sInterpolateInfo info;
    info.raw = job.raw;
    info.pixels = picture.raw16Bpp();
    info.width = job.width;
    info.height = job.height;
    info.progress = &guard;
    for (int c = 0; c < 4; c++) info.mul[c] = job.mul[c];
    info.black = job.black > 65535 ? 65535 : job.black;
    info.minRaw = 0;
    info.maxRaw = 65535;
    if (!rawDemosaicPPG(info, *job.cfa, &m)) {
        picture.close();
        return false;
    }
    unsigned int cap = 0;
    if (job.whiteFromMaxRaw) cap = (unsigned int)(info.maxRaw * job.whiteFraction + 0.5);
    if (!rawToneFinish(picture, job.gamma, job.whiteFromMaxRaw ? (cap ? cap : 1) : 0, io)) {
        picture.close();
        return false;
    }
    return true;
}
