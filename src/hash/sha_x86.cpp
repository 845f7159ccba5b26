// SHA-1 and SHA-256 block functions on the x86 SHA extensions, and the run-time choice
// between them and the portable code. Only these functions are compiled for the
// extensions, so the rest of the build needs no special flags.
#include <atomic>
#include <cstdlib>

#include "hash/shablocks.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define QMX_SHA_X86 1
#endif

namespace {

// 0 not yet checked, 1 extensions present, 2 absent.
std::atomic<int> gCpuHasSha{0};
std::atomic<bool> gForcePortable{false};

}  // namespace

bool shaHaveCpuExtensions() {
    int v = gCpuHasSha.load(std::memory_order_relaxed);
    if (v) return v == 1;
    bool has = false;
#ifdef QMX_SHA_X86
    // QMX_NO_CPU_SHA (not empty) runs everything as on a CPU without the extensions, so that
    // the portable code can be tested on any machine. Read once, with the CPU.
    const char* noCpuSha = getenv("QMX_NO_CPU_SHA");
    unsigned a, b, c, d;
    if (!(noCpuSha && *noCpuSha) && __get_cpuid(1, &a, &b, &c, &d)) {
        bool ssse3 = (c >> 9) & 1, sse41 = (c >> 19) & 1;
        if (ssse3 && sse41 && __get_cpuid_max(0, nullptr) >= 7) {
            __cpuid_count(7, 0, a, b, c, d);
            has = (b >> 29) & 1;
        }
    }
#endif
    gCpuHasSha.store(has ? 1 : 2, std::memory_order_relaxed);
    return has;
}

void shaForcePortable(bool force) { gForcePortable.store(force); }

bool shaUsingCpuExtensions() { return !gForcePortable.load(std::memory_order_relaxed) && shaHaveCpuExtensions(); }

void sha256_blocks(uint32_t state[8], const unsigned char* data, size_t blocks) {
#ifdef QMX_SHA_X86
    if (shaUsingCpuExtensions()) return sha256_blocks_shani(state, data, blocks);
#endif
    sha256_blocks_portable(state, data, blocks);
}

void sha1_blocks(uint32_t state[5], const unsigned char* data, size_t blocks) {
#ifdef QMX_SHA_X86
    if (shaUsingCpuExtensions()) return sha1_blocks_shani(state, data, blocks);
#endif
    sha1_blocks_portable(state, data, blocks);
}

#ifdef QMX_SHA_X86

#define QMX_SHA_TARGET __attribute__((target("sha,sse4.1")))

// Four rounds of SHA-256 on message group g (W[4g..4g+3] in Mg). Mnext and Mprev are the
// groups after and before it (mod 4); the schedule for later groups is built alongside.
#define SHA256_GROUP(g, Mg, Mnext, Mprev)                                                  \
    do {                                                                                   \
        msg = _mm_add_epi32(Mg, _mm_loadu_si128((const __m128i*)(K + 4 * (g))));           \
        s1 = _mm_sha256rnds2_epu32(s1, s0, msg);                                           \
        if ((g) >= 3 && (g) <= 14) {                                                       \
            tmp = _mm_alignr_epi8(Mg, Mprev, 4);                                           \
            Mnext = _mm_add_epi32(Mnext, tmp);                                             \
            Mnext = _mm_sha256msg2_epu32(Mnext, Mg);                                       \
        }                                                                                  \
        msg = _mm_shuffle_epi32(msg, 0x0E);                                                \
        s0 = _mm_sha256rnds2_epu32(s0, s1, msg);                                           \
        if ((g) >= 1 && (g) <= 12) Mprev = _mm_sha256msg1_epu32(Mprev, Mg);                \
    } while (0)

QMX_SHA_TARGET void sha256_blocks_shani(uint32_t state[8], const unsigned char* data, size_t blocks) {
    const uint32_t* K = sha256RoundConstants();
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp = _mm_loadu_si128((const __m128i*)&state[0]);
    __m128i s1 = _mm_loadu_si128((const __m128i*)&state[4]);
    // The round instructions keep the state as ABEF and CDGH.
    tmp = _mm_shuffle_epi32(tmp, 0xB1);
    s1 = _mm_shuffle_epi32(s1, 0x1B);
    __m128i s0 = _mm_alignr_epi8(tmp, s1, 8);
    s1 = _mm_blend_epi16(s1, tmp, 0xF0);
    __m128i msg, m0, m1, m2, m3;
    while (blocks--) {
        __m128i save0 = s0, save1 = s1;
        m0 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 0)), swap);
        m1 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16)), swap);
        m2 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 32)), swap);
        m3 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 48)), swap);
        SHA256_GROUP(0, m0, m1, m3);
        SHA256_GROUP(1, m1, m2, m0);
        SHA256_GROUP(2, m2, m3, m1);
        SHA256_GROUP(3, m3, m0, m2);
        SHA256_GROUP(4, m0, m1, m3);
        SHA256_GROUP(5, m1, m2, m0);
        SHA256_GROUP(6, m2, m3, m1);
        SHA256_GROUP(7, m3, m0, m2);
        SHA256_GROUP(8, m0, m1, m3);
        SHA256_GROUP(9, m1, m2, m0);
        SHA256_GROUP(10, m2, m3, m1);
        SHA256_GROUP(11, m3, m0, m2);
        SHA256_GROUP(12, m0, m1, m3);
        SHA256_GROUP(13, m1, m2, m0);
        SHA256_GROUP(14, m2, m3, m1);
        SHA256_GROUP(15, m3, m0, m2);
        s0 = _mm_add_epi32(s0, save0);
        s1 = _mm_add_epi32(s1, save1);
        data += 64;
    }
    tmp = _mm_shuffle_epi32(s0, 0x1B);
    s1 = _mm_shuffle_epi32(s1, 0xB1);
    s0 = _mm_blend_epi16(tmp, s1, 0xF0);
    s1 = _mm_alignr_epi8(s1, tmp, 8);
    _mm_storeu_si128((__m128i*)&state[0], s0);
    _mm_storeu_si128((__m128i*)&state[4], s1);
}

// Four rounds of SHA-1 on message group g (W[4g..4g+3] in Mg), with round function g / 5.
// E alternates between two registers; Mnext, Mprev, Mfar are groups g+1, g-1 and g+2 (mod 4).
#define SHA1_GROUP(g, Ecur, Eoth, Mg, Mnext, Mprev, Mfar)                                  \
    do {                                                                                   \
        Ecur = (g) == 0 ? _mm_add_epi32(Ecur, Mg) : _mm_sha1nexte_epu32(Ecur, Mg);          \
        Eoth = abcd;                                                                       \
        if ((g) >= 3 && (g) <= 18) Mnext = _mm_sha1msg2_epu32(Mnext, Mg);                  \
        abcd = _mm_sha1rnds4_epu32(abcd, Ecur, (g) / 5);                                   \
        if ((g) >= 1 && (g) <= 16) Mprev = _mm_sha1msg1_epu32(Mprev, Mg);                  \
        if ((g) >= 2 && (g) <= 17) Mfar = _mm_xor_si128(Mfar, Mg);                         \
    } while (0)

QMX_SHA_TARGET void sha1_blocks_shani(uint32_t state[5], const unsigned char* data, size_t blocks) {
    const __m128i swap = _mm_set_epi64x(0x0001020304050607ULL, 0x08090a0b0c0d0e0fULL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)state), 0x1B);
    __m128i e0 = _mm_set_epi32((int)state[4], 0, 0, 0), e1;
    __m128i m0, m1, m2, m3;
    while (blocks--) {
        __m128i saveAbcd = abcd, saveE = e0;
        m0 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 0)), swap);
        m1 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 16)), swap);
        m2 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 32)), swap);
        m3 = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(data + 48)), swap);
        SHA1_GROUP(0, e0, e1, m0, m1, m3, m2);
        SHA1_GROUP(1, e1, e0, m1, m2, m0, m3);
        SHA1_GROUP(2, e0, e1, m2, m3, m1, m0);
        SHA1_GROUP(3, e1, e0, m3, m0, m2, m1);
        SHA1_GROUP(4, e0, e1, m0, m1, m3, m2);
        SHA1_GROUP(5, e1, e0, m1, m2, m0, m3);
        SHA1_GROUP(6, e0, e1, m2, m3, m1, m0);
        SHA1_GROUP(7, e1, e0, m3, m0, m2, m1);
        SHA1_GROUP(8, e0, e1, m0, m1, m3, m2);
        SHA1_GROUP(9, e1, e0, m1, m2, m0, m3);
        SHA1_GROUP(10, e0, e1, m2, m3, m1, m0);
        SHA1_GROUP(11, e1, e0, m3, m0, m2, m1);
        SHA1_GROUP(12, e0, e1, m0, m1, m3, m2);
        SHA1_GROUP(13, e1, e0, m1, m2, m0, m3);
        SHA1_GROUP(14, e0, e1, m2, m3, m1, m0);
        SHA1_GROUP(15, e1, e0, m3, m0, m2, m1);
        SHA1_GROUP(16, e0, e1, m0, m1, m3, m2);
        SHA1_GROUP(17, e1, e0, m1, m2, m0, m3);
        SHA1_GROUP(18, e0, e1, m2, m3, m1, m0);
        SHA1_GROUP(19, e1, e0, m3, m0, m2, m1);
        e0 = _mm_sha1nexte_epu32(e0, saveE);
        abcd = _mm_add_epi32(abcd, saveAbcd);
        data += 64;
    }
    abcd = _mm_shuffle_epi32(abcd, 0x1B);
    _mm_storeu_si128((__m128i*)state, abcd);
    state[4] = (uint32_t)_mm_extract_epi32(e0, 3);
}

#endif
