#include "verify/sha256_blocks.h"

#include <immintrin.h>
#include <intrin.h>

// GCC and clang build the intrinsics only into functions marked for the extension; MSVC
// needs no mark.
#if defined(__GNUC__)
#define SHA_TARGET __attribute__((target("sha,ssse3,sse4.1")))
#else
#define SHA_TARGET
#endif

namespace {

alignas(16) const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

}  // namespace

bool Sha256BlocksAvailable() {
    int leaf1[4] = {}, leaf7[4] = {};
    __cpuid(leaf1, 1);
    __cpuidex(leaf7, 7, 0);
    const bool ssse3 = (leaf1[2] & (1 << 9)) != 0, sse41 = (leaf1[2] & (1 << 19)) != 0;
    const bool sha = (leaf7[1] & (1 << 29)) != 0;
    return ssse3 && sse41 && sha;
}

SHA_TARGET void Sha256Blocks(uint32_t state[8], const uint8_t* data, size_t blocks) {
    // Big-endian words from the message bytes.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // The instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (const uint8_t* end = data + 64 * blocks; data != end; data += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];  // the last sixteen schedule words, four to a register
        for (size_t i = 0; i < 4; ++i)
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byteSwap);
        for (size_t group = 0; group < 16; ++group) {
            const __m128i words = w[group % 4];
            __m128i msg = _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);
            if (group < 12) {
                // w[t] = s1(w[t-2]) + w[t-7] + s0(w[t-15]) + w[t-16], four at a time.
                const __m128i& w1 = w[(group + 1) % 4];
                const __m128i& w2 = w[(group + 2) % 4];
                const __m128i& w3 = w[(group + 3) % 4];
                const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(words, w1), _mm_alignr_epi8(w3, w2, 4));
                w[group % 4] = _mm_sha256msg2_epu32(partial, w3);
            }
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}
