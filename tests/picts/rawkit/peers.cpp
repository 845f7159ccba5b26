// Peer tools and the frame hook for the raw kit's tests.
#include "peers.h"

#include "../jpeg_testutil.h"
#include "picts/pictbase.h"
#include "picts/raw/interpolate.h"
#include "picts/raw/rawhook.h"
#include "testutil.h"

namespace rawkit {

std::vector<uint16_t> peerFrame(const std::string& tool, const std::string& path, int& w, int& h) {
    std::vector<unsigned char> pgm;
    w = h = 0;
    if (tool == "dcraw") {
        std::string out;
        if (testutil::run({"dcraw", "-D", "-4", "-t", "0", "-c", path}, &out) != 0) return {};
        pgm.assign(out.begin(), out.end());
    } else {
        if (testutil::run({"unprocessed_raw", "-q", path}) != 0) return {};
        pgm = testutil::readFile(path + ".pgm");
    }
    if (pgm.empty()) return {};
    jpegtest::Image im = jpegtest::parsePnm(pgm);
    if (im.channels != 1) return {};
    w = im.w;
    h = im.h;
    return im.px;
}

bool decodeSeeingFrame(cPictBase& picture, cFileIOTarget* io, SeenFrame& seen) {
    seen = SeenFrame();
    setRawFrameHook(
        [](void* ctx, const sRawFrameView& v) {
            SeenFrame* s = (SeenFrame*)ctx;
            s->calls++;
            s->samples.assign(v.samples, v.samples + v.width * v.height * v.channels);
            s->width = v.width;
            s->height = v.height;
            s->channels = v.channels;
            s->black = v.black;
            for (int c = 0; c < 4; c++) s->mul[c] = v.mul ? v.mul[c] : 0;
            if (v.margins) {
                s->margins[0] = v.margins->left;
                s->margins[1] = v.margins->right;
                s->margins[2] = v.margins->top;
                s->margins[3] = v.margins->bottom;
            }
            if (v.filter)
                for (int i = 0; i < 4; i++) s->cfa[i] = v.filter->color(i & 1, i >> 1);
        },
        &seen);
    io->set_fp(0);
    bool ok = picture.decode(io);
    setRawFrameHook(nullptr, nullptr);
    return ok;
}

}  // namespace rawkit
