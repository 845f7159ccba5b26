// The JP2 box reader and the colour boxes (ISO/IEC 15444-1 I.5). Box and sub-box lengths
// are checked against what is left before a body is read; palette, mapping and channel
// definitions are checked against their lengths and, once the codestream is known, against
// its component count.
#include "picts/jpeg2000/jp2decode.h"

#include <cstring>

#include "picts/byteorder.h"
#include "picts/pictbox.h"

namespace {

const unsigned long long kMaxHeaderBox = 64ULL << 20;

}  // namespace

bool cJP2Decode::setup(unsigned int flags) {
    myCp.reduce = 0;
    myCp.layers = 0;
    myColrRead = false;
    myIgnoreColour = (flags & 1) != 0;
    return true;
}

bool cJP2Decode::processBoxes(cFileIOTarget* io, bool endPass) {
    if (!(myStatus & bsSignature)) {
        unsigned char s[12];
        if (!io->readf(s, 12) || be32(s) != 12 || be32(s + 4) != pictBoxType("jP  ") || be32(s + 8) != 0x0D0A870A)
            return false;
        myStatus |= bsSignature;
    }
    _typebuf<unsigned char> body;
    for (;;) {
        // Box lengths are kept to 32 bits.
        sPictBox hb;
        const unsigned long long pos = io->get_fp();
        const ePictBoxRead got = pictReadBox(io, pos, io->size(), pbAllowToEnd | pbSize32, hb);
        if (got == pbNone) return true;
        if (got == pbBad) return false;
        const unsigned long long len = hb.size;
        const unsigned int type = hb.type;
        // The codestream may be cut short: its decoder reads what there is.
        if (type == pictBoxType("jp2c")) {
            if (!(myStatus & bsHeader)) return false;
            myStatus |= bsCodestream;
            return true;
        }
        // A box running to the end of the file (LBox 0) is only allowed for the codestream.
        if (got != pbBox || hb.toEnd) return false;
        const unsigned long long bodyLen = len - hb.header;
        if (!endPass && (type == pictBoxType("ftyp") || type == pictBoxType("jp2h"))) {
            if (bodyLen > kMaxHeaderBox) return false;
            if (!body.set((long long)bodyLen + 1) || (bodyLen && !io->readf(body.ptr, (long long)bodyLen)))
                return false;
            bool ok = type == pictBoxType("ftyp") ? readFtyp(body.ptr, (unsigned int)bodyLen)
                                          : readJp2h(body.ptr, (unsigned int)bodyLen);
            if (!ok) return false;
        } else if (!endPass && type == pictBoxType("jP  ")) {
            return false;
        } else if (!io->set_fp(pos + len)) {
            return false;
        }
    }
}

bool cJP2Decode::readFtyp(const unsigned char* b, unsigned int len) {
    if (myStatus != bsSignature || len < 8 || len % 4) return false;
    myStatus |= bsFileType;
    return true;
}

bool cJP2Decode::readJp2h(const unsigned char* b, unsigned int len) {
    if (!(myStatus & bsFileType)) return false;
    unsigned int pos = 0;
    bool cdefSeen = false;
    while (pos < len) {
        sPictBox hb;
        if (pictBoxAt(b + pos, len - pos, pbSize32, hb) != pbBox) return false;
        const unsigned long long l = hb.size;
        const unsigned int type = hb.type, hdr = hb.header;
        const unsigned char* d = b + pos + hdr;
        unsigned int dl = (unsigned int)(l - hdr);
        bool ok = true;
        if (type == pictBoxType("ihdr")) {
            if (dl != 14) return false;
            myNc = be16(d + 8);
            myIhdr = true;
        } else if (type == pictBoxType("bpcc")) {
            ok = myIhdr && dl == myNc;
        } else if (type == pictBoxType("colr")) {
            ok = readColr(d, dl);
        } else if (type == pictBoxType("pclr")) {
            ok = myColor.parsePclr(d, dl);
        } else if (type == pictBoxType("cmap")) {
            ok = myColor.parsePclrCMap(d, dl);
        } else if (type == pictBoxType("cdef")) {
            ok = !cdefSeen && myColor.parseCdef(d, dl);
            cdefSeen = true;
        }
        if (!ok) return false;
        pos += (unsigned int)l;
    }
    myStatus |= bsHeader;
    return true;
}

bool cJP2Decode::readColr(const unsigned char* b, unsigned int len) {
    if (len < 3) return false;
    if (myColrRead) return true;  // only the first one counts
    myMeth = b[0];
    if (myMeth == 2) {
        if (len > 3 && (!myColor.icc.set(len - 3) || !memcpy(myColor.icc.ptr, b + 3, len - 3))) return false;
    } else if (myMeth == 1) {
        if (len < 7) return false;
        myEnumCS = be32(b + 3);
        if (myEnumCS == 14) {
            static const unsigned int kDefault[8] = {0x44454600, 100, 0, 0, 128, 255, 96, 0x00443530};
            memcpy(myCielab, kDefault, sizeof myCielab);
            if (len == 35) {
                for (int i = 0; i < 7; i++) myCielab[1 + i] = be32(b + 7 + 4 * i);
                myCielab[0] = 0;
            }
        }
    }
    myColrRead = true;
    return true;
}

bool cJP2Color::parsePclr(const unsigned char* b, unsigned int len) {
    if (pclr.ptr || len < 3) return false;
    unsigned int ne = be16(b), npc = b[2];
    // ISO/IEC 15444-1 I.5.3.4: 1 to 1024 entries, at least one channel.
    if (!ne || ne > 1024 || !npc || len < 3 + npc) return false;
    sJP2Pclr* p = new (std::nothrow) sJP2Pclr;
    if (!p) return false;
    pclr = p;
    p->ne = ne, p->npc = npc;
    unsigned int rowBytes = 0;
    for (unsigned int i = 0; i < npc; i++) {
        p->size[i] = (unsigned char)((b[3 + i] & 0x7F) + 1);
        p->sign[i] = b[3 + i] >> 7;
        if (p->size[i] > 32) return false;  // wider palette values are not supported
        rowBytes += (p->size[i] + 7u) / 8;
    }
    if (len != 3 + npc + ne * rowBytes) return false;
    if (!p->entries.set((long long)ne * npc)) return false;
    const unsigned char* d = b + 3 + npc;
    for (unsigned int e = 0; e < ne; e++)
        for (unsigned int i = 0; i < npc; i++) {
            unsigned int n = (p->size[i] + 7u) / 8, v = 0;
            for (unsigned int k = 0; k < n; k++) v = (v << 8) | *d++;
            p->entries.ptr[e * npc + i] = v;
        }
    return true;
}

bool cJP2Color::parsePclrCMap(const unsigned char* b, unsigned int len) {
    if (!pclr.ptr || pclr->haveMap) return false;
    sJP2Pclr& p = *pclr.ptr;
    if (len != 4 * p.npc) return false;
    for (unsigned int i = 0; i < p.npc; i++) {
        p.map[i].cmp = be16(b + 4 * i);
        p.map[i].mtyp = b[4 * i + 2];
        p.map[i].pcol = b[4 * i + 3];
        if (p.map[i].mtyp > 1 || (p.map[i].mtyp == 1 && p.map[i].pcol >= p.npc)) return false;
    }
    p.haveMap = true;
    return true;
}

bool cJP2Color::parseCdef(const unsigned char* b, unsigned int len) {
    if (len < 2) return false;
    unsigned int n = be16(b);
    if (!n || len != 2 + 6 * n || !cdef.set(n)) return false;
    for (unsigned int i = 0; i < n; i++)
        cdef.ptr[i] = {be16(b + 2 + 6 * i), be16(b + 4 + 6 * i), be16(b + 6 + 6 * i)};
    return true;
}

bool cJP2Decode::readHeader(cFileIOTarget* io, cPtr<cJP2Image>& out) {
    if (!io) return false;
    myStart = io->get_fp();
    if (!processBoxes(io, false) || !(myStatus & bsCodestream)) return false;
    return cJ2KDecode::readHeader(io, out);
}

bool cJP2Decode::endDecompress(cFileIOTarget* io) {
    if (!io || !io->set_fp(myStart + 12)) return false;
    return processBoxes(io, true);
}

bool cJP2Decode::applyCdef(cJP2Image* img) {
    long long n = myColor.cdef.count;
    for (long long i = 0; i < n; i++) {
        cJP2Color::sCdef& d = myColor.cdef.ptr[i];
        if (d.cn >= img->numcomps || d.asoc > img->numcomps) return false;
    }
    for (long long i = 0; i < n; i++) {
        cJP2Color::sCdef& d = myColor.cdef.ptr[i];
        if (!d.asoc || d.asoc == 65535 || d.cn == d.asoc - 1) continue;
        unsigned int acn = d.asoc - 1;
        sJP2ImageComp& a = img->comps.ptr[d.cn];
        sJP2ImageComp& b = img->comps.ptr[acn];
        sJP2ImageComp t;
        // Swap the whole component records, samples included.
        t.dx = a.dx, t.dy = a.dy, t.w = a.w, t.h = a.h, t.x0 = a.x0, t.y0 = a.y0, t.prec = a.prec, t.sgnd = a.sgnd;
        a.dx = b.dx, a.dy = b.dy, a.w = b.w, a.h = b.h, a.x0 = b.x0, a.y0 = b.y0, a.prec = b.prec, a.sgnd = b.sgnd;
        b.dx = t.dx, b.dy = t.dy, b.w = t.w, b.h = t.h, b.x0 = t.x0, b.y0 = t.y0, b.prec = t.prec, b.sgnd = t.sgnd;
        int* pa = a.data.ptr;
        long long ca = a.data.count;
        a.data.ptr = b.data.ptr, a.data.count = b.data.count;
        b.data.ptr = pa, b.data.count = ca;
        d.asoc = d.cn + 1;
        if ((long long)acn < n) myColor.cdef.ptr[acn].asoc = myColor.cdef.ptr[acn].cn + 1;
    }
    myColor.cdef.clear();
    return true;
}

bool cJP2Decode::applyPclr(cJP2Image* img) {
    sJP2Pclr& p = *myColor.pclr.ptr;
    if (!p.haveMap) {
        myColor.pclr = nullptr;  // a palette without a mapping is not applied
        return true;
    }
    for (unsigned int i = 0; i < p.npc; i++)
        if (p.map[i].cmp >= img->numcomps) return false;
    _classbuf<sJP2ImageComp> comps;
    if (!comps.set(p.npc)) return false;
    for (unsigned int i = 0; i < p.npc; i++) {
        const sJP2ImageComp& o = img->comps.ptr[p.map[i].cmp];
        sJP2ImageComp& c = comps.ptr[i];
        c.dx = o.dx, c.dy = o.dy, c.w = o.w, c.h = o.h, c.x0 = o.x0, c.y0 = o.y0;
        c.prec = o.prec, c.sgnd = o.sgnd, c.resnoDecoded = o.resnoDecoded, c.factor = o.factor;
        long long n = (long long)o.w * o.h;
        if (!c.data.set(n)) return false;
        if (p.map[i].mtyp == 0) {
            memcpy(c.data.ptr, o.data.ptr, (size_t)n * sizeof(int));
            continue;
        }
        unsigned int col = p.map[i].pcol;
        c.prec = p.size[col];
        c.sgnd = p.sign[col];
        for (long long k = 0; k < n; k++) {
            int idx = o.data.ptr[k];
            idx = idx < 0 ? 0 : idx >= (int)p.ne ? (int)p.ne - 1 : idx;
            c.data.ptr[k] = (int)p.entries.ptr[(unsigned int)idx * p.npc + col];
        }
    }
    img->comps.clear();
    img->comps.ptr = comps.ptr;
    img->comps.count = comps.count;
    comps.ptr = nullptr;
    comps.count = 0;
    img->numcomps = p.npc;
    myColor.pclr = nullptr;
    return true;
}

bool cJP2Decode::decode(cFileIOTarget* io, cJP2Image* img) {
    if (!cJ2KDecode::decode(io, img)) return false;
    memset(img->cielab, 0, sizeof img->cielab);
    if (myIgnoreColour) return true;
    switch (myEnumCS) {
        case 16: img->colorSpace = 1; break;
        case 17: img->colorSpace = 2; break;
        case 18: img->colorSpace = 3; break;
        case 12: img->colorSpace = 4; break;
        case 14:
            img->colorSpace = 6;
            memcpy(img->cielab, myCielab, sizeof myCielab);
            break;
        case 0: img->colorSpace = 5; break;
        default: img->colorSpace = -1; break;
    }
    if (myColor.cdef.count && !applyCdef(img)) return false;
    if (myColor.pclr.ptr && !applyPclr(img)) return false;
    if (myColor.icc.count) {
        img->icc.clear();
        img->icc.ptr = myColor.icc.ptr, img->icc.count = myColor.icc.count;
        myColor.icc.ptr = nullptr, myColor.icc.count = 0;
    }
    return true;
}
