// The JPEG byte source and Huffman decoder: table preparation (T.81 C.2, F.2.2.3) and the
// bit reader that removes 0xFF00 stuffing and stops at markers.
#include "picts/jpeg/jhuffdecoder.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "picts/jpeg/jpegidct.h"

#if defined(__GNUC__) && defined(__x86_64__)
#include <cpuid.h>
#endif

namespace {
const long long kSourceBuffer = 65536;
const int kPadCap = 1 << 24;
}  // namespace

bool cJByteSource::open(cFileIOTarget* stream) {
    myStream = stream;
    p = end = nullptr;
    if (!stream || !stream->valid()) return false;
    if (!myBuf.ptr && !myBuf.set(kSourceBuffer)) return false;
    mySize = stream->size();
    myPos = stream->get_fp();
    if (myPos > mySize) myPos = mySize;
    p = end = myBuf.ptr;
    return true;
}

void cJByteSource::close() {
    myStream = nullptr;
    p = end = nullptr;
    myBuf.clear();
}

bool cJByteSource::refill() {
    if (!myStream || !myBuf.ptr) return false;
    long long n = myStream->read(myBuf.ptr, myBuf.count);
    if (n <= 0) {
        p = end = myBuf.ptr;
        return false;
    }
    myPos += (unsigned long long)n;
    p = myBuf.ptr;
    end = myBuf.ptr + n;
    return true;
}

bool cJByteSource::readf(void* out, long long n) {
    unsigned char* o = (unsigned char*)out;
    while (n > 0) {
        if (p == end && !refill()) return false;
        long long k = end - p;
        if (k > n) k = n;
        memcpy(o, p, (size_t)k);
        p += k;
        o += k;
        n -= k;
    }
    return true;
}

bool cJByteSource::skip(long long n) {
    while (n > 0) {
        if (p == end && !refill()) return false;
        long long k = end - p;
        if (k > n) k = n;
        p += k;
        n -= k;
    }
    return true;
}

unsigned long long cJByteSource::remaining() const {
    unsigned long long buffered = (unsigned long long)(end - p);
    unsigned long long rest = mySize > myPos ? mySize - myPos : 0;
    return rest + buffered;
}

namespace {

// One step of sequential AC data at the top of `avail` bits (T.81 F.2.2.2): a run/size symbol
// and its extra bits, an end of block, or ZRL (a run of 15 before a value 0).
struct sAcStep {
    int length = 0;  // bits taken; 0 when the step does not fit in the bits or is not fast
    int run = 0;
    int value = 0;
    bool eob = false;
};

sAcStep acStepAt(const sJHuffLookup& t, unsigned bits, int avail) {
    sAcStep st;
    int rs = -1, len = 0;
    for (int l = 1; l <= avail && rs < 0; l++) {
        int code = (int)(bits >> (avail - l));
        if (code <= t.maxcode[l]) {
            int idx = code + t.valoffset[l];
            if (idx < 0 || idx >= t.count) return st;
            rs = t.vals[idx];
            len = l;
        }
    }
    if (rs < 0) return st;
    int run = rs >> 4, size = rs & 15;
    if (!size) {
        // Size 0 with a run below 15 ends the block, as the plain decoder reads it.
        st.eob = run != 15;
        st.run = st.eob ? 0 : 15;
        st.length = len;
        return st;
    }
    // Values are stored in 9 signed bits.
    if (size > 8 || len + size > avail) return st;
    int v = (int)(bits >> (avail - len - size)) & ((1 << size) - 1);
    if (v < (1 << (size - 1))) v -= (1 << size) - 1;
    st.run = run;
    st.value = v;
    st.length = len + size;
    return st;
}

}  // namespace

bool sJHuffLookup::builtFrom(const sJHuffTable& t, bool pairs) const {
    return built && (builtPairs || !pairs) && memcmp(builtBits, t.bits, sizeof(builtBits)) == 0 &&
           memcmp(vals, t.vals, sizeof(vals)) == 0;
}

bool sJHuffLookup::build(const sJHuffTable& t, bool pairs) {
    if (builtFrom(t, pairs)) return true;
    built = false;
    memset(look, 0, sizeof(look));
    int total = 0;
    for (int l = 1; l <= 16; l++) total += t.bits[l];
    if (total > 256) return false;
    count = total;
    memcpy(vals, t.vals, sizeof(vals));
    // C.2: canonical codes; a length whose codes do not fit is an over-subscribed table.
    int code = 0, k = 0;
    for (int l = 1; l <= 16; l++) {
        int n = t.bits[l];
        if (n) {
            valoffset[l] = k - code;
            maxcode[l] = code + n - 1;
        } else {
            valoffset[l] = 0;
            maxcode[l] = -1;
        }
        if (code + n > (1 << l)) return false;
        if (l <= sJHuffLookup::kLookBits) {
            for (int i = 0; i < n; i++) {
                int c = code + i;
                int shift = kLookBits - l;
                int base = c << shift;
                unsigned short e = (unsigned short)((l << 8) | t.vals[k + i]);
                for (int j = 0; j < (1 << shift); j++) look[base + j] = e;
            }
        }
        code += n;
        k += n;
        code <<= 1;
    }
    maxcode[17] = 0x7FFFFFFF;  // sentinel: ends the slow search
    valoffset[17] = 0;
    memcpy(builtBits, t.bits, sizeof(builtBits));
    built = true;
    builtPairs = false;
    if (!pairs) return true;
    // Two steps from the top of the lookahead where they fit: the second from what the first left.
    for (unsigned i = 0; i < (1u << kPairBits); i++) {
        pairAc[i] = 0;
        sAcStep a = acStepAt(*this, i, kPairBits);
        if (!a.length) continue;
        unsigned e = (unsigned)a.length | (unsigned)a.run << 4;
        int second = a.value, step = 0;
        if (a.eob) {
            e |= kPairEob;
        } else if (a.length < kPairBits) {
            const int rest = kPairBits - a.length;
            sAcStep b = acStepAt(*this, i & ((1u << rest) - 1), rest);
            if (b.length) {
                e += (unsigned)b.length;
                if (b.eob) {
                    // A block whose last value is at 63 has no end of block: the end counts
                    // as a zero one step on, so that the decoder takes it only before 63.
                    e |= kPairEob;
                    step = 1;
                    second = 0;
                } else {
                    step = b.run + 1;
                    second = b.value;
                }
            }
        }
        e |= (unsigned)step << 8 | ((unsigned)a.value & 511) << 14 | ((unsigned)second & 511) << 23;
        pairAc[i] = e;
    }
    builtPairs = true;
    return true;
}

bool cJHuffDecoder::create(const sJScanState& scan) {
    mySrc = scan.source;
    if (!mySrc || scan.components < 1 || scan.components > 4) return false;
    myIgnoreFF = myIgnoreFF || scan.ignoreFFEsc;
    for (int c = 0; c < 4; c++) myDc[c] = myAc[c] = nullptr;
    // Prepare each distinct table once.
    const sJHuffTable* built[8] = {};
    int nbuilt = 0;
    for (int pass = 0; pass < 2; pass++) {
        for (int c = 0; c < scan.components; c++) {
            const sJHuffTable* t = pass == 0 ? scan.dc[c] : scan.ac[c];
            if (!t) continue;
            if (!t->defined) return false;
            int found = -1;
            for (int i = 0; i < nbuilt; i++)
                if (built[i] == t) found = i;
            if (found < 0) {
                if (!myTables[nbuilt].build(*t, pass == 1 && scan.acPairs)) return false;
                built[nbuilt] = t;
                found = nbuilt++;
            }
            (pass == 0 ? myDc : myAc)[c] = &myTables[found];
        }
    }
    myAcc = 0;
    myBits = 0;
    myPadBits = 0;
    myMarker = -1;
    myEnded = false;
    return true;
}

int cJHuffDecoder::nextByte() {
    if (myMarker >= 0 || myEnded) {
        if (myPadBits < kPadCap) myPadBits += 8;
        return 0;
    }
    if (mySrc->p == mySrc->end && !mySrc->refill()) {
        myEnded = true;
        if (myPadBits < kPadCap) myPadBits += 8;
        return 0;
    }
    int b = *mySrc->p++;
    if (b != 0xFF || myIgnoreFF) return b;
    // B.1.1.5 / F.1.2.3: 0xFF00 is a data 0xFF; fill bytes 0xFF may precede a marker.
    for (;;) {
        if (mySrc->p == mySrc->end && !mySrc->refill()) {
            myEnded = true;
            if (myPadBits < kPadCap) myPadBits += 8;
            return 0;
        }
        int n = *mySrc->p;
        if (n == 0xFF) {
            mySrc->p++;
            continue;
        }
        mySrc->p++;
        if (n == 0) return 0xFF;
        myMarker = n;
        if (myPadBits < kPadCap) myPadBits += 8;
        return 0;
    }
}

int cJHuffDecoder::decodeSlow(const sJHuffLookup* t) {
    if (myBits < 16) fill();
    unsigned int bits16 = (unsigned int)(myAcc >> 48);
    for (int l = sJHuffLookup::kLookBits + 1; l <= 16; l++) {
        int code = (int)(bits16 >> (16 - l));
        if (code <= t->maxcode[l]) {
            int idx = code + t->valoffset[l];
            if (idx < 0 || idx >= t->count) return -1;
            skipBits(l);
            return t->vals[idx];
        }
    }
    return -1;
}

namespace {

// A code longer than the lookahead, from the top 16 bits of the buffer: (length << 8) | symbol,
// or -1 when the table holds no such code.
inline int slowCode(const sJHuffLookup* t, unsigned long long acc) {
    unsigned int bits16 = (unsigned int)(acc >> 48);
    for (int l = sJHuffLookup::kLookBits + 1; l <= 16; l++) {
        int code = (int)(bits16 >> (16 - l));
        if (code <= t->maxcode[l]) {
            int idx = code + t->valoffset[l];
            if (idx < 0 || idx >= t->count) return -1;
            return l << 8 | t->vals[idx];
        }
    }
    return -1;
}

inline int extendBits(unsigned int v, int n) { return v < (1u << (n - 1)) ? (int)v - (1 << n) + 1 : (int)v; }

}  // namespace

// Called with fewer than 32 bits buffered.
inline void cJHuffDecoder::refillLocal(unsigned long long& acc, int& bits) {
    const unsigned char* p = mySrc->p;
    if (mySrc->end - p >= 8 && myMarker < 0) {
        unsigned long long w = 0;
        for (int i = 0; i < 8; i++) w = w << 8 | p[i];
        const unsigned long long inv = ~w;
        if (!((inv - 0x0101010101010101ULL) & ~inv & 0x8080808080808080ULL)) {
            // Whole bytes up to 56..63 bits. The bits below them are the next bytes' own,
            // which the next refill ORs in again at the same place.
            acc |= w >> bits;
            mySrc->p = p + ((63 - bits) >> 3);
            bits |= 56;
            return;
        }
    }
    myAcc = acc;
    myBits = bits;
    fill();
    acc = myAcc;
    bits = myBits;
}

// The bit buffer lives in locals for the whole block.
bool cJHuffDecoder::decodeBlock(const sJHuffLookup* dc, const sJHuffLookup* ac, const unsigned char* zigzag,
                                int& dcPred, short* blk, bool& acCoded) {
    unsigned long long acc = myAcc;
    int bits = myBits;
    auto refill = [&]() { refillLocal(acc, bits); };
    auto take = [&](int n) {
        unsigned int v = (unsigned int)(acc >> (64 - n));
        acc <<= n;
        bits -= n;
        return v;
    };
    const int kLook = sJHuffLookup::kLookBits;
    bool ok = true;
    int coded = 0;  // a local, so that it stays in a register (blk may not alias it)
    if (bits < 32) refill();
    int e = dc->look[acc >> (64 - kLook)];
    if (!e) e = slowCode(dc, acc);
    int s = e & 0xFF;
    if (e < 0 || s > 16) {
        ok = false;
    } else {
        acc <<= e >> 8;
        bits -= e >> 8;
        int v = dcPred;
        if (s) v += extendBits(take(s), s);
        // Keep the predictor bounded so that hostile differences cannot overflow it.
        dcPred = jToShort(v);
        blk[0] = (short)dcPred;
        for (int k = 1; k < 64; k++) {
            if (bits < 32) refill();
            // Two steps at once where they fit and stay inside the block; a step without a
            // second value stores its first twice.
            unsigned pe = ac->pairAc[acc >> (64 - sJHuffLookup::kPairBits)];
            if (pe) {
                int k1 = k + sJHuffLookup::pairRun(pe), k2 = k1 + sJHuffLookup::pairStep(pe);
                if (k2 <= 63) {
                    blk[zigzag[k1]] = (short)sJHuffLookup::pairFirst(pe);
                    blk[zigzag[k2]] = (short)sJHuffLookup::pairSecond(pe);
                    coded |= (int)(pe >> 14);
                    acc <<= sJHuffLookup::pairLength(pe);
                    bits -= sJHuffLookup::pairLength(pe);
                    if (pe & sJHuffLookup::kPairEob) break;
                    k = k2;
                    continue;
                }
            }
            int c = ac->look[acc >> (64 - kLook)];
            if (!c) c = slowCode(ac, acc);
            if (c < 0) {
                ok = false;
                break;
            }
            acc <<= c >> 8;
            bits -= c >> 8;
            int r = (c >> 4) & 15, sz = c & 15;
            if (sz) {
                k += r;
                blk[zigzag[k]] = (short)extendBits(take(sz), sz);
                coded = 1;
            } else {
                if (r != 15) break;
                k += 15;
            }
        }
    }
    if (coded) acCoded = true;
    myAcc = acc;
    myBits = bits;
    return ok;
}

bool cJHuffDecoder::firstAcBlock(const sJHuffLookup* ac, const unsigned char* zigzag, int ss, int se, int al,
                                int& eobRun, short* blk) {
    if (eobRun > 0) {
        eobRun--;
        return true;
    }
    unsigned long long acc = myAcc;
    int bits = myBits;
    const int kLook = sJHuffLookup::kLookBits;
    bool ok = true;
    for (int k = ss; k <= se; k++) {
        if (bits < 32) refillLocal(acc, bits);
        // Two values at once from the pair table where both are values (an end of band here
        // is a run of blocks, and a ZRL skips without storing) and stay inside the band.
        unsigned pe = ac->pairAc[acc >> (64 - sJHuffLookup::kPairBits)];
        if (pe && !(pe & sJHuffLookup::kPairEob)) {
            int v1 = sJHuffLookup::pairFirst(pe), v2 = sJHuffLookup::pairSecond(pe);
            int k1 = k + sJHuffLookup::pairRun(pe), k2 = k1 + sJHuffLookup::pairStep(pe);
            if (v1 && v2 && k2 <= se) {
                v1 *= 1 << al;
                v2 *= 1 << al;
                blk[zigzag[k1]] = jToShort(v1);
                blk[zigzag[k2]] = jToShort(v2);
                acc <<= sJHuffLookup::pairLength(pe);
                bits -= sJHuffLookup::pairLength(pe);
                k = k2;
                continue;
            }
        }
        int c = ac->look[acc >> (64 - kLook)];
        if (!c) c = slowCode(ac, acc);
        if (c < 0) {
            ok = false;
            break;
        }
        acc <<= c >> 8;
        bits -= c >> 8;
        int r = (c >> 4) & 15, s = c & 15;
        if (s) {
            k += r;
            int v = extendBits((unsigned int)(acc >> (64 - s)), s) * (1 << al);
            acc <<= s;
            bits -= s;
            blk[zigzag[k]] = jToShort(v);
        } else if (r == 15) {
            k += 15;
        } else {
            // EOBn covers this block and 2^r - 1 + extra more.
            eobRun = (1 << r) - 1;
            if (r) {
                eobRun += (int)(acc >> (64 - r));
                acc <<= r;
                bits -= r;
            }
            break;
        }
    }
    myAcc = acc;
    myBits = bits;
    return ok;
}

namespace {

// Bit k set when the coefficient at zig-zag position k of the block (natural order) is not
// zero: the non-zero bytes of the natural-order mask, each turned into zig-zag bits by a table.
struct sZigzagMasks {
    unsigned long long byByte[8][256];
    sZigzagMasks() {
        int pos[64];
        for (int k = 0; k < 64; k++) pos[kJZigzag[k]] = k;
        for (int j = 0; j < 8; j++)
            for (int v = 0; v < 256; v++) {
                unsigned long long m = 0;
                for (int b = 0; b < 8; b++)
                    if (v >> b & 1) m |= 1ULL << pos[8 * j + b];
                byByte[j][v] = m;
            }
    }
};

inline unsigned long long nonZeroZigzag(const short* blk) {
    static const sZigzagMasks masks;
    unsigned long long nat = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 4; i++) {
        __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i*)(blk + 16 * i)), zero);
        __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128((const __m128i*)(blk + 16 * i + 8)), zero);
        nat |= (unsigned long long)(unsigned)_mm_movemask_epi8(_mm_packs_epi16(a, b)) << (16 * i);
    }
    nat = ~nat;
#else
    for (int i = 0; i < 64; i++) nat |= (unsigned long long)(blk[i] != 0) << i;
#endif
    unsigned long long m = 0;
    for (int j = 0; j < 8; j++) m |= masks.byByte[j][(nat >> (8 * j)) & 255];
    return m;
}

// Zig-zag positions from..to (inclusive) as bits; empty when from > to.
inline unsigned long long positions(int from, int to) {
    if (from > to || from > 63) return 0;
    unsigned long long hi = to >= 63 ? ~0ULL : (1ULL << (to + 1)) - 1;
    return hi & (~0ULL << from);
}

// BMI2's bit deposit where it is fast: Intel's processors and AMD's from family 19h (earlier ones
// run it as microcode, hundreds of cycles).
bool fastBitDeposit() {
#if defined(__GNUC__) && defined(__x86_64__)
    static const bool fast = [] {
        unsigned a, b, c, d;
        if (!__get_cpuid(0, &a, &b, &c, &d) || a < 7) return false;
        const bool intel = b == 0x756e6547 && d == 0x49656e69 && c == 0x6c65746e;  // "GenuineIntel"
        const bool amd = b == 0x68747541 && d == 0x69746e65 && c == 0x444d4163;    // "AuthenticAMD"
        __get_cpuid(1, &a, &b, &c, &d);
        int family = (int)(a >> 8 & 15);
        if (family == 15) family += (int)(a >> 20 & 255);
        if (!intel && !(amd && family >= 0x19)) return false;
        __cpuid_count(7, 0, a, b, c, d);
        return (b & bit_BMI2) != 0;
    }();
    return fast;
#else
    return false;
#endif
}

// The position of the (n+1)-th set bit of x as a one-bit mask, 0 when x has fewer.
template <bool kDeposit>
inline unsigned long long nthSetBit(unsigned long long x, int n) {
#if defined(__GNUC__) && defined(__x86_64__)
    if (kDeposit) {
        unsigned long long r;
        __asm__("pdep %2, %1, %0" : "=r"(r) : "r"(1ULL << n), "rm"(x));
        return r;
    }
#endif
    for (int i = 0; i < n; i++) x &= x - 1;
    return x & (0 - x);
}

}  // namespace

bool cJHuffDecoder::refineBlock(const sJHuffLookup* ac, const unsigned char* zigzag, int ss, int se, int al,
                               int& eobRun, short* blk) {
    static const bool deposit = fastBitDeposit();
    return deposit ? refineBlockT<true>(ac, zigzag, ss, se, al, eobRun, blk)
                   : refineBlockT<false>(ac, zigzag, ss, se, al, eobRun, blk);
}

// G.1.2.3 walks the band position by position; here the coefficients already non-zero are one
// bit mask, so that a run of zeros is one bit search (a bit deposit where the processor does it
// fast, without the mispredicted loop) and the correction bits go straight to the non-zero
// coefficients the run passes.
template <bool kDeposit>
bool cJHuffDecoder::refineBlockT(const sJHuffLookup* ac, const unsigned char* zigzag, int ss, int se, int al,
                                 int& eobRun, short* blk) {
    unsigned long long acc = myAcc;
    int bits = myBits;
    const int p1 = 1 << al, m1 = -p1;
    const unsigned long long known = nonZeroZigzag(blk);
    // One correction bit for each coefficient of `set`, in zig-zag order; without branches on
    // the bits, which are as good as random, nor on whether there is a first coefficient (a
    // run passes none or one most of the time). Called with at least one bit buffered.
    auto correct = [&](unsigned long long set) {
        {
            const int has = set != 0;
            short* coef = blk + zigzag[__builtin_ctzll(set | 1ULL << 63)];
            set &= set - 1;
            int v = *coef;
            int add = (int)(acc >> 63) & has & ((v & p1) == 0);
            acc <<= has;
            bits -= has;
            v += add * (v >= 0 ? p1 : m1);
            *coef = jToShort(v);
        }
        while (set) {
            if (bits < 1) refillLocal(acc, bits);
            short* coef = blk + zigzag[__builtin_ctzll(set)];
            set &= set - 1;
            int v = *coef;
            int add = (int)(acc >> 63) & ((v & p1) == 0);
            acc <<= 1;
            bits--;
            v += add * (v >= 0 ? p1 : m1);
            *coef = jToShort(v);
        }
    };
    const int kLook = sJHuffLookup::kLookBits;
    bool ok = true;
    int k = ss;
    if (eobRun == 0) {
        while (k <= se) {
            if (bits < 32) refillLocal(acc, bits);
            int c = ac->look[acc >> (64 - kLook)];
            if (!c) c = slowCode(ac, acc);
            if (c < 0) {
                ok = false;
                break;
            }
            acc <<= c >> 8;
            bits -= c >> 8;
            int r = (c >> 4) & 15, s = c & 15;
            if (s) {
                s = (acc >> 63) ? p1 : m1;
                acc <<= 1;
                bits--;
            } else if (r != 15) {
                eobRun = 1 << r;
                if (r) {
                    eobRun += (int)(acc >> (64 - r));
                    acc <<= r;
                    bits -= r;
                }
                break;
            }
            // The new coefficient (or the end of ZRL) is the (r+1)-th zero from k; past the band
            // when there are fewer.
            unsigned long long zero = nthSetBit<kDeposit>(~known & positions(k, se), r);
            int target = zero ? __builtin_ctzll(zero) : se + 1;
            correct(known & positions(k, target - 1));
            k = target;
            if (s) blk[zigzag[k]] = (short)s;
            k++;
        }
    }
    if (ok && eobRun > 0) {
        if (bits < 1) refillLocal(acc, bits);
        correct(known & positions(k, se));
        eobRun--;
    }
    myAcc = acc;
    myBits = bits;
    return ok;
}

int cJHuffDecoder::simpleDecodeU32() {
    const sJHuffLookup* t = myDc[0] ? myDc[0] : myAc[0];
    if (!t) return -1;
    if (myEnded && overran()) return -1;
    return decode(t);
}

unsigned int cJHuffDecoder::simpleReadU32(int count) {
    if (count <= 0) return 0;
    if (count > 32) count = 32;
    if (overran()) return 0;
    unsigned int v = 0;
    if (count > 16) {
        v = getBits(16);
        count -= 16;
    }
    v = (v << count) | getBits(count);
    if (overran()) return 0;
    return v;
}

void cJHuffDecoder::resetBits() {
    myAcc = 0;
    myBits = 0;
    myPadBits = 0;
}

int cJHuffDecoder::findMarker() {
    if (myMarker >= 0) return myMarker;
    if (myEnded || !mySrc) return -1;
    for (;;) {
        int b = mySrc->byte();
        if (b < 0) {
            myEnded = true;
            return -1;
        }
        if (b != 0xFF) continue;
        int n;
        do {
            n = mySrc->byte();
        } while (n == 0xFF);
        if (n < 0) {
            myEnded = true;
            return -1;
        }
        if (n != 0) {
            myMarker = n;
            return n;
        }
    }
}
