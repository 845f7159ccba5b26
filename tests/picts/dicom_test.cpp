// DICOM decoders: files made by dcmtk (dump2dcm, dcmconv, dcmcjpeg, dcmdjpeg; black-box
// oracles) in every encoding, with and without the preamble, native and JPEG frames, compared
// with the source samples through a plain model of the display mapping; hand-made files for
// signed, MONOCHROME1, padded and hostile data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/memio.h"
#include "jpeg2000_testutil.h"
#include "picts/dicom/pictdicom.h"
#include "picts/jpeg2000/pictjp2.h"
#include "picts/pictbase.h"
#include "testutil.h"

namespace {
using Bytes = std::vector<unsigned char>;

// --- a plain writer for hand-made data sets (every call returns the writer, to chain on) ---
struct Writer {
    Bytes b;
    bool big = false;
    bool expl = true;
    Writer& u16(unsigned v) {
        if (big) b.insert(b.end(), {(unsigned char)(v >> 8), (unsigned char)v});
        else b.insert(b.end(), {(unsigned char)v, (unsigned char)(v >> 8)});
        return *this;
    }
    Writer& u32(unsigned v) { return big ? u16(v >> 16).u16(v & 0xFFFF) : u16(v & 0xFFFF).u16(v >> 16); }
    Writer& raw(const Bytes& v) {
        b.insert(b.end(), v.begin(), v.end());
        return *this;
    }
    // One element; a long VR gets the reserved bytes and a 32-bit length.
    Writer& el(unsigned g, unsigned e, const char* vr, const Bytes& v, unsigned len = 0xFFFFFFFE) {
        u16(g), u16(e);
        unsigned l = len == 0xFFFFFFFE ? (unsigned)v.size() : len;
        if (expl) {
            b.push_back(vr[0]), b.push_back(vr[1]);
            std::string s(vr);
            if (s == "OB" || s == "OW" || s == "SQ" || s == "UN" || s == "UT" || s == "UC" || s == "OL") u16(0), u32(l);
            else u16(l);
        } else {
            u32(l);
        }
        return raw(v);
    }
    Writer& us(unsigned e, unsigned v) {
        return el(0x0028, e, "US", big ? Bytes{(unsigned char)(v >> 8), (unsigned char)v} : Bytes{(unsigned char)v, (unsigned char)(v >> 8)});
    }
    Writer& text(unsigned g, unsigned e, const char* vr, std::string s) {
        if (s.size() & 1) s += ' ';
        return el(g, e, vr, Bytes(s.begin(), s.end()));
    }
    Writer& item(unsigned len) { return u16(0xFFFE).u16(0xE000).u32(len); }
    Writer& delim(unsigned e) { return u16(0xFFFE).u16(e).u32(0); }
    // A grey image description; the high bit is bs - 1 unless given.
    Writer& image(int w, int h, int ba = 8, int bs = 8, int frames = 0, int hb = -1, int rep = 0,
                  const char* pi = "MONOCHROME2") {
        us(0x0002, 1).text(0x0028, 0x0004, "CS", pi);
        if (frames) text(0x0028, 0x0008, "IS", std::to_string(frames));
        return us(0x0010, h).us(0x0011, w).us(0x0100, ba).us(0x0101, bs).us(0x0102, hb < 0 ? bs - 1 : hb).us(0x0103, rep);
    }
    Writer& pixels(const Bytes& v, const char* vr = "OB", unsigned len = 0xFFFFFFFE) {
        return el(0x7FE0, 0x0010, vr, v, len);
    }
    // Encapsulated pixel data: an empty offset table, an item a fragment (padded to even), the end.
    Writer& fragments(const std::vector<Bytes>& frags) {
        Writer seq;
        seq.item(0);
        for (Bytes f : frags) {
            if (f.size() & 1) f.push_back(0);
            seq.item((unsigned)f.size()).raw(f);
        }
        return pixels(seq.delim(0xE0DD).b, "OB", 0xFFFFFFFF);
    }
};

// Preamble, "DICM", a meta group naming the transfer syntax, then the data set.
Bytes part10(const Bytes& dataset, std::string ts = "1.2.840.10008.1.2.1") {
    Writer m;
    m.b.assign(128, 0);
    m.b.insert(m.b.end(), {'D', 'I', 'C', 'M'});
    if (ts.size() & 1) ts.push_back('\0');
    m.el(0x0002, 0x0010, "UI", Bytes(ts.begin(), ts.end()));
    m.b.insert(m.b.end(), dataset.begin(), dataset.end());
    return m.b;
}

Bytes le16s(const std::vector<int>& v) {
    Bytes b;
    for (int x : v) b.push_back((unsigned char)x), b.push_back((unsigned char)(x >> 8));
    return b;
}

// --- decoding ---
struct Page {
    long long w = 0, h = 0;
    bool wide = false;
    int kind = 0;              // how the decode held it, before raw16Bpp/raw8Bpp widen it
    std::vector<uint64_t> px;  // top-down, in the picture's own format
};
struct Decoded {
    bool probed = false;
    int type = 0;
    int pages = 0;
    std::vector<Page> page;  // every page that decoded
    int failedPages = 0;
};

Page grab(cPictBase& p) {
    Page r;
    r.kind = p.pageKind();
    r.w = p.width(), r.h = p.height(), r.wide = p.raw16Bpp() != nullptr;
    for (long long y = r.h - 1; y >= 0; y--)
        for (long long x = 0; x < r.w; x++)
            r.px.push_back(r.wide ? p.raw16Bpp()[y * r.w + x] : p.raw8Bpp()[y * r.w + x]);
    return r;
}

Decoded decodeBytes(const Bytes& bytes) {
    Decoded d;
    cBufWrapperIO s(bytes.data(), (long long)bytes.size());
    cPictBase::sPictInfo info;
    cPictBase* p = cPictBase::mkPicture(&s, &info);
    if (!p) return d;
    d.probed = true;
    d.type = p->typeOf();
    d.pages = p->getNumPages(&s);
    for (int i = 0; i < d.pages && i < 64; i++) {
        if (p->decodePage(&s, i)) d.page.push_back(grab(*p));
        else d.failedPages++;
    }
    delete p;
    return d;
}

Decoded decodeFile(const std::string& path) { return decodeBytes(testutil::readFile(path)); }

// --- the display mapping, written plainly ---
// Native grey: stored bits below the high bit, sign-extended, shifted to the minimum and
// stretched (16-bit always, 8-bit only below full depth), MONOCHROME1 inverted.
std::vector<uint64_t> modelGrey(const std::vector<int>& stored, int ba, int bs, int hb, bool sign, bool mono1) {
    std::vector<long long> v;
    for (int s : stored) {
        long long x = ((unsigned)s >> (hb + 1 - bs)) & ((1u << bs) - 1);
        if (sign && (x >> (bs - 1))) x -= 1LL << bs;
        v.push_back(x);
    }
    long long lo = v[0], hi = v[0];
    for (long long x : v) lo = std::min(lo, x), hi = std::max(hi, x);
    double maxv = ba == 16 ? 65535 : 255;
    double scale = hi > lo ? maxv / (hi - lo) : (std::pow(2.0, ba) - 1) / (std::pow(2.0, bs) - 1);
    if (hi <= lo) lo = 0;
    std::vector<uint64_t> out;
    for (long long x : v) {
        double d = (double)(x - lo);
        if (ba == 16 || bs != ba) d *= scale;
        long long o = d < 0 ? 0 : (long long)d;
        if (mono1) o = (long long)maxv - o;
        out.push_back(ba == 16 ? 0xFFFF000000000000ULL | (uint64_t)o * 0x100010001ULL : 0xFF000000u | (uint64_t)o * 0x010101u);
    }
    return out;
}

// JPEG frames: decoded samples at precision P brought to 8 or 16 bits, then one min/max
// stretch over every channel, rounded.
// Signed samples (signedBits > 0) are two's complement in that many bits, shifted up by half
// their range first so that their order is kept.
std::vector<uint64_t> modelStretch(const std::vector<int>& samples, int spp, int precision, int signedBits = 0) {
    bool wide = precision > 8;
    unsigned long long maxP = (1ull << precision) - 1, outMax = wide ? 65535 : 255;
    std::vector<unsigned long long> v;
    for (int s : samples) {
        if (signedBits) {
            long long m = (1LL << signedBits) - 1, x = s & m;
            if (x >> (signedBits - 1)) x -= m + 1;
            v.push_back((unsigned long long)((x + (m + 1) / 2) * (long long)outMax + m / 2) / m);
            continue;
        }
        v.push_back(wide ? ((unsigned long long)s * outMax + maxP / 2) / maxP : (unsigned long long)s);
    }
    unsigned long long lo = *std::min_element(v.begin(), v.end()), hi = *std::max_element(v.begin(), v.end());
    for (auto& x : v)
        if (hi > lo) x = ((x - lo) * outMax + (hi - lo) / 2) / (hi - lo);
    std::vector<uint64_t> out;
    int cs = wide ? 16 : 8;
    for (size_t i = 0; i + spp <= v.size(); i += spp) {
        uint64_t r = v[i], g = v[i + (spp == 3)], b = v[i + 2 * (spp == 3)];
        out.push_back(outMax << (3 * cs) | r << (2 * cs) | g << cs | b);
    }
    return out;
}

// Channel difference of two pages, in units of the channel's full range.
double maxDiff(const Page& p, const std::vector<uint64_t>& ref) {
    if (p.px.size() != ref.size()) return 1e9;
    int cs = p.wide ? 16 : 8;
    double m = 0, full = p.wide ? 65535 : 255;
    for (size_t i = 0; i < ref.size(); i++)
        for (int c = 0; c < 3; c++) {
            long long a = (long long)((p.px[i] >> (c * cs)) & (uint64_t)full), b = (long long)((ref[i] >> (c * cs)) & (uint64_t)full);
            m = std::max(m, std::abs(a - b) / full);
        }
    return m;
}

// --- dcmtk sources ---
struct Source {
    const char* name;
    int w, h, samples, planar, ba, bs, frames;
    const char* pi;
    int rep = 0;  // pixel representation: 1 signed
};

// Smooth gradients with a little texture, every frame different.
std::vector<int> sourceSamples(const Source& s) {
    std::vector<int> v;
    int maxv = (1 << s.bs) - 1;
    for (int f = 0; f < s.frames; f++)
        for (int c = 0; c < (s.planar ? s.samples : 1); c++)
            for (int y = 0; y < s.h; y++)
                for (int x = 0; x < s.w; x++)
                    for (int k = 0; k < (s.planar ? 1 : s.samples); k++) {
                        int ch = s.planar ? c : k;
                        long long t = (long long)(x * 7 + y * 5 + f * 31 + ch * 50) * maxv / (s.w * 7 + s.h * 5 + 200);
                        t += ((x * 13 + y * 7 + f) % 5) * (maxv / 255 + 1);
                        v.push_back((int)std::min<long long>(t, maxv));
                    }
    return v;
}

// Samples of one frame in pixel order (interleaved).
std::vector<int> frameSamples(const Source& s, const std::vector<int>& all, int f) {
    size_t per = (size_t)s.w * s.h * s.samples;
    std::vector<int> v(all.begin() + per * f, all.begin() + per * (f + 1));
    if (!s.planar) return v;
    std::vector<int> inter(per);
    size_t plane = (size_t)s.w * s.h;
    for (size_t i = 0; i < plane; i++)
        for (int c = 0; c < s.samples; c++) inter[i * s.samples + c] = v[c * plane + i];
    return inter;
}

std::vector<uint64_t> modelNative(const Source& s, const std::vector<int>& inter) {
    if (s.samples == 1) return modelGrey(inter, s.ba, s.bs, s.bs - 1, s.rep == 1, std::string(s.pi) == "MONOCHROME1");
    std::vector<uint64_t> out;
    double scale = (std::pow(2.0, s.ba) - 1) / (std::pow(2.0, s.bs) - 1);
    int cs = s.ba == 16 ? 16 : 8;
    uint64_t full = s.ba == 16 ? 0xFFFF : 0xFF;
    for (size_t i = 0; i < inter.size(); i += 3) {
        uint64_t p = full << (3 * cs);
        for (int c = 0; c < 3; c++) p |= (uint64_t)(inter[i + c] * scale) << ((2 - c) * cs);
        out.push_back(p);
    }
    return out;
}

std::string makeDcm(const testutil::TempDir& dir, const Source& s, const std::vector<int>& samples) {
    Bytes raw;
    for (int v : samples) {
        raw.push_back((unsigned char)v);
        if (s.ba == 16) raw.push_back((unsigned char)(v >> 8));
    }
    std::string rawPath = dir.file(std::string(s.name) + ".raw"), dump = dir.file(std::string(s.name) + ".txt");
    testutil::writeFile(rawPath, raw);
    std::string t = "(0008,0016) UI =SecondaryCaptureImageStorage\n(0008,0018) UI [1.2.3.4.5]\n"
                    "(0008,0060) CS [OT]\n(0028,0002) US " + std::to_string(s.samples) + "\n(0028,0004) CS [" +
                    s.pi + "]\n";
    if (s.samples == 3) t += "(0028,0006) US " + std::to_string(s.planar) + "\n";
    if (s.frames > 1) t += "(0028,0008) IS [" + std::to_string(s.frames) + "]\n";
    t += "(0028,0010) US " + std::to_string(s.h) + "\n(0028,0011) US " + std::to_string(s.w) +
         "\n(0028,0100) US " + std::to_string(s.ba) + "\n(0028,0101) US " + std::to_string(s.bs) +
         "\n(0028,0102) US " + std::to_string(s.bs - 1) + "\n(0028,0103) US " + std::to_string(s.rep) +
         "\n(7fe0,0010) " +
         (s.ba == 16 ? "OW" : "OB") + " =" + rawPath + "\n";
    testutil::writeFile(dump, t.data(), t.size());
    std::string out = dir.file(std::string(s.name) + ".dcm");
    if (testutil::run({"dump2dcm", dump, out}) != 0) return "";
    return out;
}

const Source kSources[] = {
    {"grey8", 91, 61, 1, 0, 8, 8, 1, "MONOCHROME2"},
    {"grey8m1", 20, 9, 1, 0, 8, 6, 1, "MONOCHROME1"},
    {"grey12", 47, 33, 1, 0, 16, 12, 1, "MONOCHROME2"},
    {"grey16", 30, 21, 1, 0, 16, 16, 1, "MONOCHROME2"},
    {"rgb8", 41, 29, 3, 0, 8, 8, 1, "RGB"},
    {"rgb8planar", 23, 17, 3, 1, 8, 8, 1, "RGB"},
    {"grey12frames", 64, 50, 1, 0, 16, 12, 3, "MONOCHROME2"},
    {"rgb8frames", 40, 31, 3, 0, 8, 8, 4, "RGB"},
    {"signed12", 37, 25, 1, 0, 16, 12, 1, "MONOCHROME2", 1},
};

const Source& source(const char* name) {
    for (const Source& k : kSources)
        if (!strcmp(k.name, name)) return k;
    abort();
}

// Runs a dcmtk tool with the options, from `in` to `out`.
bool dcmtk(const char* tool, const std::vector<std::string>& opts, const std::string& in, const std::string& out) {
    std::vector<std::string> argv = {tool};
    argv.insert(argv.end(), opts.begin(), opts.end());
    argv.insert(argv.end(), {in, out});
    return testutil::run(argv) == 0;
}

bool haveDcmtk() {
    return testutil::haveTool("dump2dcm") && testutil::haveTool("dcmconv") && testutil::haveTool("dcmcjpeg") &&
           testutil::haveTool("dcmdjpeg");
}

// Every native source in every encoding dcmconv writes, with and without the preamble, as
// its own model says.
TEST(DicomDcmtk, NativeEveryEncodingMatchesSource) {
    if (!haveDcmtk()) GTEST_SKIP() << "dcmtk not installed";
    testutil::TempDir dir;
    struct Enc {
        const char* name;
        std::vector<std::string> args;
        int type;
    } encs[] = {
        {"explicit-le", {}, cPictBase::pkDICOM},
        {"implicit-le", {"+ti"}, cPictBase::pkDICOM},
        {"explicit-be", {"+tb"}, cPictBase::pkDICOM},
        {"undefined-lengths", {"-e", "+g"}, cPictBase::pkDICOM},
        {"dataset-implicit", {"-F", "+ti"}, cPictBase::pkDICOMLegacy},
        {"dataset-explicit", {"-F", "+te"}, cPictBase::pkDICOMLegacy},
        {"dataset-be", {"-F", "+tb"}, cPictBase::pkDICOMLegacy},
    };
    for (const Source& s : kSources) {
        std::vector<int> all = sourceSamples(s);
        std::string src = makeDcm(dir, s, all);
        ASSERT_FALSE(src.empty()) << s.name;
        for (const Enc& e : encs) {
            SCOPED_TRACE(std::string(s.name) + " " + e.name);
            std::string out = dir.file(std::string(s.name) + "-" + e.name + ".dcm");
            ASSERT_TRUE(dcmtk("dcmconv", e.args, src, out));
            Decoded d = decodeFile(out);
            ASSERT_TRUE(d.probed);
            EXPECT_EQ(d.type, e.type);
            // Frames of 8-bit data the legacy reader cannot tell from padding: one page there.
            ASSERT_EQ(d.pages, s.frames);
            ASSERT_EQ((int)d.page.size(), s.frames);
            for (int f = 0; f < s.frames; f++) {
                EXPECT_EQ(d.page[f].w, s.w);
                EXPECT_EQ(d.page[f].h, s.h);
                EXPECT_EQ(d.page[f].wide, s.ba == 16);
                // Grey 16-bit pages hold two bytes a pixel.
                if (s.samples == 1 && s.ba == 16) {
                    EXPECT_EQ(d.page[f].kind, cPictBase::pgGrey16);
                }
                EXPECT_EQ(d.page[f].px, modelNative(s, frameSamples(s, all, f))) << "frame " << f;
            }
        }
    }
}

// The JPEG precision of a frame: the first SOF marker's sample precision.
int jpegPrecision(const Bytes& file) {
    for (size_t i = 0; i + 4 < file.size(); i++)
        if (file[i] == 0xFF && file[i + 1] >= 0xC0 && file[i + 1] <= 0xC3 && file[i + 2] == 0) return file[i + 4];
    return 0;
}

// Each JPEG process, fragment layout and offset table dcmcjpeg writes, against the source
// (lossless) or dcmdjpeg's samples (lossy).
TEST(DicomDcmtk, JpegProcessesMatchSourceOrDcmdjpeg) {
    if (!haveDcmtk()) GTEST_SKIP() << "dcmtk not installed";
    testutil::TempDir dir;
    struct Case {
        const char* source;
        std::vector<std::string> args;
        bool lossless;
    } cases[] = {
        {"grey12", {"+e1"}, true},
        {"grey12", {"+el", "+sv", "4"}, true},
        {"grey16", {"+e1"}, true},
        {"grey8", {"+e1", "+fs", "1"}, true},
        {"rgb8", {"+e1"}, true},
        {"grey12frames", {"+e1", "-ot"}, true},
        {"grey12frames", {"+e1", "+fs", "1", "-ot"}, true},
        {"grey12frames", {"+e1", "+fs", "1"}, true},
        {"rgb8frames", {"+e1", "+fs", "1", "-ot"}, true},
        {"grey8", {"+eb"}, false},
        {"rgb8", {"+eb"}, false},
        {"rgb8", {"+eb", "+s4"}, false},
        {"grey12", {"+ee"}, false},
        {"grey12frames", {"+ee", "+fs", "1", "-ot"}, false},
        {"grey8", {"+ep"}, false},
        {"rgb8frames", {"+ep", "-ot"}, false},
        {"grey12", {"+ep"}, false},
        {"grey8m1", {"+e1"}, true},
        {"signed12", {"+e1"}, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const Source* s = &source(c.source);
        std::string tag;
        for (auto& a : c.args) tag += a;
        SCOPED_TRACE(std::string(c.source) + " " + tag);
        std::vector<int> all = sourceSamples(*s);
        std::string src = makeDcm(dir, *s, all);
        std::string jpg = dir.file("j" + std::to_string(n) + ".dcm"), back = dir.file("d" + std::to_string(n) + ".dcm");
        n++;
        ASSERT_TRUE(dcmtk("dcmcjpeg", c.args, src, jpg));
        ASSERT_TRUE(dcmtk("dcmdjpeg", {}, jpg, back));
        Bytes jbytes = testutil::readFile(jpg), dbytes = testutil::readFile(back);
        int precision = jpegPrecision(jbytes);
        ASSERT_GT(precision, 0);
        // Split fragments are really there: more items than frames and the offset table.
        int items = 0;
        for (size_t i = 0; i + 4 <= jbytes.size(); i++) items += !memcmp(&jbytes[i], "\xFE\xFF\x00\xE0", 4);
        if (tag.find("+fs") != std::string::npos) {
            EXPECT_GT(items, s->frames + 1);
        }
        Decoded d = decodeBytes(jbytes);
        ASSERT_TRUE(d.probed);
        ASSERT_EQ(d.pages, s->frames);
        ASSERT_EQ((int)d.page.size(), s->frames);
        // dcmdjpeg's native pixel data is the file's tail.
        size_t per = (size_t)s->w * s->h * s->samples;
        size_t bytesPer = s->ba / 8;
        size_t dataBytes = per * bytesPer * s->frames;
        ASSERT_GE(dbytes.size(), dataBytes + 1);
        const unsigned char* tail = dbytes.data() + dbytes.size() - dataBytes - (dataBytes & 1);  // even padding
        for (int f = 0; f < s->frames; f++) {
            std::vector<int> ref;
            if (c.lossless) {
                ref = frameSamples(*s, all, f);
            } else {
                for (size_t i = 0; i < per; i++) {
                    const unsigned char* p = tail + (f * per + i) * bytesPer;
                    ref.push_back(bytesPer == 2 ? p[0] | p[1] << 8 : p[0]);
                }
            }
            std::vector<uint64_t> model = modelStretch(ref, s->samples, precision, s->rep ? s->bs : 0);
            if (!strcmp(s->pi, "MONOCHROME1"))
                for (auto& p : model) p ^= precision > 8 ? 0xFFFFFFFFFFFFULL : 0xFFFFFFULL;
            if (s->samples == 1 && precision > 8) {
                EXPECT_EQ(d.page[f].kind, cPictBase::pgGrey16);
            }
            if (c.lossless)
                EXPECT_EQ(d.page[f].px, model) << "frame " << f;
            else
                EXPECT_LE(maxDiff(d.page[f], model), 0.03) << "frame " << f;  // IDCT rounding only
        }
    }
}

// Previews of JPEG frames, grey and colour, rendered into a smaller box: the same picture
// as the full decode scaled down (compared by mean brightness and the size).
TEST(DicomDcmtk, JpegFramePreviewsMatchTheFullDecode) {
    if (!haveDcmtk()) GTEST_SKIP() << "dcmtk not installed";
    testutil::TempDir dir;
    for (const char* name : {"grey12", "rgb8"}) {
        SCOPED_TRACE(name);
        const Source* s = &source(name);
        std::string src = makeDcm(dir, *s, sourceSamples(*s)), jpg = dir.file(std::string(name) + "-j.dcm");
        ASSERT_TRUE(dcmtk("dcmcjpeg", {"+e1"}, src, jpg));
        Bytes bytes = testutil::readFile(jpg);
        cBufWrapperIO io(bytes.data(), (long long)bytes.size());
        cPictDICOM dec;
        cPictDummy small, full;
        ASSERT_TRUE(dec.decodePagePreview(&io, &small, 16, 16, 0, true, 0));
        ASSERT_TRUE(dec.decodePagePreview(&io, &full, 1000, 1000, 0, true, 0));
        ASSERT_EQ(full.width(), s->w);
        EXPECT_EQ(small.width(), 16);
        EXPECT_EQ(small.height(), (long long)(s->h * 16.0 / s->w + 0.5));
        auto mean = [](cPictDummy& p) {
            double sum = 0;
            long long n = p.width() * p.height();
            for (long long i = 0; i < n; i++)
                for (int c = 0; c < 3; c++) sum += (p.raw8Bpp()[i] >> (8 * c)) & 0xFF;
            return sum / (3.0 * n);
        };
        EXPECT_NEAR(mean(small), mean(full), 3.0);
    }
}

// --- hand-made files ---
Bytes greyFile(int w, int h, int ba, int bs, int hb, int rep, const char* pi, const Bytes& pixels, bool big = false,
               int frames = 0) {
    Writer d;
    d.big = big;
    d.image(w, h, ba, bs, frames, hb, rep, pi).pixels(pixels, ba == 16 ? "OW" : "OB");
    return part10(d.b, big ? "1.2.840.10008.1.2.2" : "1.2.840.10008.1.2.1");
}

// Signed samples are sign-extended from bits stored with the bits above the high bit
// ignored; MONOCHROME1 is inverted; odd 8-bit frames padded to even length decode.
TEST(DicomDecode, SignedMonochrome1PaddedAndHighBit) {
    struct Case {
        const char* name;
        int w, h, ba, bs, hb, rep;
        const char* pi;
        std::vector<int> stored;
    } cases[] = {
        // -2048, -1, 0, 2047 in 12 bits, junk in the top nibble of two of them.
        {"signed12", 4, 1, 16, 12, 11, 1, "MONOCHROME2", {0xF800, 0x0FFF, 0xA000, 0x07FF}},
        {"signed8", 3, 1, 8, 8, 7, 1, "MONOCHROME2", {0x80, 0xFF, 0x7F}},
        {"signed16", 2, 2, 16, 16, 15, 1, "MONOCHROME2", {0x8000, 0xFFFF, 0x0000, 0x7FFF}},
        {"mono1-8", 3, 1, 8, 8, 7, 0, "MONOCHROME1", {0, 10, 20}},
        {"mono1-16", 2, 1, 16, 10, 9, 0, "MONOCHROME1", {100, 900}},
        {"highbit", 3, 1, 16, 8, 11, 0, "MONOCHROME2", {0x10 << 4, (0x80 << 4) | 0xF00F, 0xFF << 4}},
        {"signed-highbit", 2, 1, 16, 6, 13, 1, "MONOCHROME2", {0x20 << 8, 0x1F << 8}},
        {"odd-padded", 5, 3, 8, 8, 7, 0, "MONOCHROME2", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool big : {false, true}) {
            Writer px;
            px.big = big;
            for (int v : c.stored) c.ba == 16 ? (void)px.u16((unsigned)v) : px.b.push_back((unsigned char)v);
            if (px.b.size() & 1) px.b.push_back(0);  // values are padded to even length
            Decoded d = decodeBytes(greyFile(c.w, c.h, c.ba, c.bs, c.hb, c.rep, c.pi, px.b, big));
            ASSERT_EQ(d.pages, 1);
            ASSERT_EQ(d.page.size(), 1u);
            EXPECT_EQ(d.page[0].px, modelGrey(c.stored, c.ba, c.bs, c.hb, c.rep, !strcmp(c.pi, "MONOCHROME1")))
                << (big ? "big-endian" : "little-endian");
        }
    }
    // Known values: signed 12-bit -2048..2047 spans the whole range; -1 sits just below the middle.
    Decoded d = decodeBytes(greyFile(4, 1, 16, 12, 11, 1, "MONOCHROME2", le16s({0xF800, 0x0FFF, 0xA000, 0x07FF})));
    ASSERT_EQ(d.page.size(), 1u);
    EXPECT_EQ(d.page[0].px[0] & 0xFFFF, 0u);
    EXPECT_EQ(d.page[0].px[1] & 0xFFFF, 32759u);  // 2047 * 65535 / 4095
    EXPECT_EQ(d.page[0].px[2] & 0xFFFF, 32775u);
    EXPECT_EQ(d.page[0].px[3] & 0xFFFF, 65535u);
}

// Number of Frames caps the pages; frames past the data are not made up; an icon in a
// sequence item is a page of its own, before the frames of the top level.
TEST(DicomDecode, FramesCappedAndIconPages) {
    Bytes frames2 = le16s({1, 2, 3, 4, 10, 20, 30, 40});
    struct Case {
        int numberOfFrames, pages;
    } cases[] = {{0, 2}, {1, 1}, {2, 2}, {1000, 2}};
    for (const Case& c : cases) {
        Decoded d = decodeBytes(greyFile(2, 2, 16, 16, 15, 0, "MONOCHROME2", frames2, false, c.numberOfFrames));
        EXPECT_EQ(d.pages, c.pages) << c.numberOfFrames;
        EXPECT_EQ((int)d.page.size(), c.pages) << c.numberOfFrames;
    }
    for (bool undefinedLengths : {false, true}) {
        Writer icon, seq, d;
        icon.image(2, 1).pixels({7, 9});
        if (undefinedLengths)
            seq.item(0xFFFFFFFF).raw(icon.b).delim(0xE00D).delim(0xE0DD);
        else
            seq.item((unsigned)icon.b.size()).raw(icon.b);
        d.el(0x0008, 0x0060, "CS", {'O', 'T'}).image(2, 2, 16, 16, 2);
        d.el(0x0088, 0x0200, "SQ", seq.b, undefinedLengths ? 0xFFFFFFFF : 0xFFFFFFFE).pixels(frames2, "OW");
        Decoded r = decodeBytes(part10(d.b));
        ASSERT_EQ(r.pages, 3);
        ASSERT_EQ(r.page.size(), 3u);
        EXPECT_EQ(r.page[0].w, 2);
        EXPECT_EQ(r.page[0].h, 1);
        EXPECT_EQ(r.page[0].px, modelGrey({7, 9}, 8, 8, 7, false, false));
        EXPECT_EQ(r.page[1].px, modelGrey({1, 2, 3, 4}, 16, 16, 15, false, false));
        EXPECT_EQ(r.page[2].px, modelGrey({10, 20, 30, 40}, 16, 16, 15, false, false));
    }
}

// A fragment that only opens a JPEG 2000 codestream, or unknown fragments, fail the decode,
// not the parse.
TEST(DicomDecode, EncapsulatedOtherCodecsFailCleanly) {
    for (Bytes frag : {Bytes{0xFF, 0x4F, 0xFF, 0x51, 0, 0}, Bytes{1, 2, 3, 4}}) {
        Writer d;
        d.image(4, 4).fragments({frag});
        Decoded r = decodeBytes(part10(d.b, "1.2.840.10008.1.2.4.90"));
        EXPECT_TRUE(r.probed);
        EXPECT_EQ(r.pages, 1);
        EXPECT_EQ(r.failedPages, 1);
    }
}

// A JPEG 2000 frame (here split over two fragments) decodes as the codestream does on its own.
TEST(DicomDecode, EncapsulatedJpeg2000FrameMatchesTheCodestream) {
    if (!testutil::haveTool("opj_compress")) GTEST_SKIP() << "opj_compress not installed";
    testutil::TempDir dir;
    j2ktest::Samples src = j2ktest::makePicture(64, 48, 1, 8, 5);
    std::string pgm = dir.file("s.pgm"), cs = dir.file("s.j2k");
    ASSERT_TRUE(j2ktest::writePnm(pgm, src, 8));
    ASSERT_EQ(testutil::run({"opj_compress", "-i", pgm, "-o", cs}), 0);
    Bytes code = testutil::readFile(cs);
    ASSERT_GT(code.size(), 20u);
    cBufWrapperIO cio(code.data(), (long long)code.size());
    cPictJ2K direct;
    ASSERT_TRUE(direct.decode(&cio));
    Page want = grab(direct);

    Writer d;
    size_t half = code.size() / 2 & ~(size_t)1;
    d.image(64, 48).fragments({Bytes(code.begin(), code.begin() + (long)half),
                               Bytes(code.begin() + (long)half, code.end())});
    Decoded r = decodeBytes(part10(d.b, "1.2.840.10008.1.2.4.90"));
    ASSERT_EQ(r.pages, 1);
    ASSERT_EQ(r.page.size(), 1u);
    EXPECT_EQ(r.page[0].w, 64);
    EXPECT_EQ(r.page[0].h, 48);
    EXPECT_EQ(r.page[0].px, want.px);
}

// A preview larger than the box is rendered into it scaled; a smaller one is moved as it is.
TEST(DicomDecode, PreviewFitsTheBox) {
    std::vector<int> v;
    for (int i = 0; i < 40 * 20; i++) v.push_back(i % 40 < 20 ? 1000 : 3000);
    Bytes file = greyFile(40, 20, 16, 12, 11, 0, "MONOCHROME2", le16s(v));
    cBufWrapperIO s(file.data(), (long long)file.size());
    cPictDICOM dec;
    cPictDummy target;
    ASSERT_TRUE(dec.decodePagePreview(&s, &target, 10, 10, 0, true, 0x123456));
    EXPECT_EQ(target.width(), 10);
    EXPECT_EQ(target.height(), 5);
    ASSERT_NE(target.raw8Bpp(), nullptr);
    EXPECT_EQ(target.raw8Bpp()[0] & 0xFFFFFF, 0u);          // left half: the minimum
    EXPECT_EQ(target.raw8Bpp()[9] & 0xFFFFFF, 0xFFFFFFu);   // right half: the maximum
    cPictDummy whole;
    ASSERT_TRUE(dec.decodePagePreview(&s, &whole, 100, 100, 0, true, 0));
    EXPECT_EQ(whole.width(), 40);
    EXPECT_NE(whole.raw8Bpp(), nullptr);  // 16-bit pages become 32-bit pixels
    EXPECT_FALSE(dec.decodePagePreview(&s, &whole, 100, 100, 1, true, 0));
}

// Hostile files fail cleanly: refused at the probe, or a page that does not decode.
TEST(DicomDecode, HostileFilesFailCleanly) {
    Bytes good = greyFile(4, 2, 16, 12, 11, 0, "MONOCHROME2", le16s({1, 2, 3, 4, 5, 6, 7, 8}));
    // Every truncation: never a crash (the sanitizer build checks reads).
    for (size_t n = 0; n < good.size(); n++) {
        Bytes cut(good.begin(), good.begin() + n);
        Decoded d = decodeBytes(cut);
        EXPECT_FALSE(d.probed && (d.type == cPictBase::pkDICOM || d.type == cPictBase::pkDICOMLegacy)) << n;
    }
    auto deep = [](int depth) {  // nested undefined-length sequences
        Writer inner;
        for (int i = 0; i < depth; i++) inner.el(0x0040, 0x0100, "SQ", {}, 0xFFFFFFFF).item(0xFFFFFFFF);
        for (int i = 0; i < depth; i++) inner.delim(0xE00D).delim(0xE0DD);
        return part10(Writer().image(2, 1).raw(inner.b).pixels({1, 2}).b);
    };
    Writer pastEnd;  // a fragment whose length runs past the end
    pastEnd.item(0).item(0x7FFFFFF0).raw({0xFF, 0xD8, 0xFF, 0xD9});
    struct Case {
        const char* name;
        Bytes file;
        bool probes;
        size_t pages;  // pages that decode
    } cases[] = {
        {"huge-length", part10(Writer().image(4, 2, 16, 12).pixels(le16s({1, 2}), "OW", 0xFFFFFFF0).b), false, 0},
        // A huge picture with a few bytes of data: no allocation, no page decoded.
        {"huge-size", part10(Writer().image(65535, 65535, 16, 16).pixels(le16s({1, 2}), "OW").b), true, 0},
        {"sequences-8-deep", deep(8), true, 1},
        {"sequences-40-deep", deep(40), false, 0},
        {"fragment-past-end", part10(Writer().image(4, 4).pixels(pastEnd.b, "OB", 0xFFFFFFFF).b), false, 0},
        {"out-of-order", part10(Writer().us(0x0010, 2).us(0x0002, 1).b), false, 0},
        {"bad-vr", part10(Writer().image(2, 1).el(0x0009, 0x0010, "ZZ", {1, 2}).pixels({1, 2}).b), false, 0},
        // Newer VRs with 32-bit lengths are read past: the image decodes.
        {"newer-vrs",
         part10(Writer().el(0x0008, 0x0119, "UC", {'a', 'b'}).image(2, 1).el(0x0066, 0x0040, "OL", {1, 2, 3, 4})
                    .pixels({1, 2}).b),
         true, 1},
        {"zero-rows", part10(Writer().image(2, 0).pixels({1, 2}).b), false, 0},
        {"bits-stored-above-allocated", part10(Writer().image(2, 1, 8, 9, 0, 7).pixels({1, 2}).b), true, 0},
        {"zeros", Bytes(200, 0), false, 0},  // no "DICM": neither reader takes it
    };
    for (const Case& c : cases) {
        Decoded d = decodeBytes(c.file);
        bool ours = d.probed && (d.type == cPictBase::pkDICOM || d.type == cPictBase::pkDICOMLegacy);
        EXPECT_EQ(ours, c.probes) << c.name;
        if (ours) {
            EXPECT_EQ(d.page.size(), c.pages) << c.name;
        }
    }
}

// Without the preamble: trailing bytes after the pixel data, two zero bytes, a zeroed header.
TEST(DicomLegacy, DataSetEnds) {
    Writer w;
    w.expl = false;
    w.image(2, 1).pixels({3, 5});
    struct Case {
        const char* name;
        Bytes tail;
        bool ok;
    } cases[] = {
        {"none", {}, true},
        {"two-zeros", {0, 0}, true},
        {"two-non-zero", {1, 2}, false},
        {"zero-header", Bytes(8, 0), true},
        {"lower-group-garbage", {0x08, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 9, 9}, true},
    };
    for (const Case& c : cases) {
        Bytes f = w.b;
        f.insert(f.end(), c.tail.begin(), c.tail.end());
        cBufWrapperIO s(f.data(), (long long)f.size());
        cPictDICOMLegacy dec;
        EXPECT_EQ(dec.isPicture(&s, nullptr), c.ok) << c.name;
        if (c.ok) {
            EXPECT_TRUE(dec.decode(&s)) << c.name;
        }
    }
    // A PS3.10 file is read by the preamble reader, not the legacy one (zeros end its walk).
    Bytes p10 = part10(w.b, "1.2.840.10008.1.2");
    cBufWrapperIO s(p10.data(), (long long)p10.size());
    EXPECT_FALSE(cPictDICOMLegacy::validFor(&s, nullptr));
    EXPECT_TRUE(cPictDICOM::validFor(&s, nullptr));
}
}  // namespace
