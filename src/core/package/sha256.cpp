// SHA-256 as FIPS 180-4 gives it (package/sha256.h). A delta's old file is hashed before the
// first write and its result while it is written, so the hash sets the pace of a delta's pass:
// where the processor has the SHA extensions (AMD's since 2017, Intel's since about 2020) the
// blocks go through them, several times faster than the portable rounds, which stay for the rest.
#include "package/sha256.h"

#include <string.h>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define SHA256_HAS_EXTENSIONS_PATH 1
#endif

static const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

static uint32_t Rotate(uint32_t value, int count)
{
    return (value >> count) | (value << (32 - count));
}

void Sha256BlocksPortable(uint32_t state[8], const unsigned char* blocks, size_t count)
{
  for (const unsigned char* block = blocks; count > 0; --count, block += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = ((uint32_t)block[4 * i] << 24) | ((uint32_t)block[4 * i + 1] << 16) | ((uint32_t)block[4 * i + 2] << 8) |
               block[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#ifdef SHA256_HAS_EXTENSIONS_PATH
// The state is kept as the instructions want it: ABEF in one register, CDGH in the other. Each
// group of four rounds takes the next four schedule words; words 16..63 are made four at a time
// from the four groups before them, so the four message registers turn round as a ring.
__attribute__((target("sha,sse4.1,ssse3")))
void Sha256BlocksWithExtensions(uint32_t state[8], const unsigned char* blocks, size_t count)
{
    const __m128i byteOrder = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i low = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)&state[0]), 0xB1);   // CDAB
    __m128i high = _mm_shuffle_epi32(_mm_loadu_si128((const __m128i*)&state[4]), 0x1B);  // EFGH
    __m128i abef = _mm_alignr_epi8(low, high, 8);
    __m128i cdgh = _mm_blend_epi16(high, low, 0xF0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i message[4];
        for (int group = 0; group < 16; ++group) {
            __m128i* current = &message[group & 3];
            if (group < 4)
                *current = _mm_shuffle_epi8(_mm_loadu_si128((const __m128i*)(blocks + 16 * group)), byteOrder);
            __m128i words = _mm_add_epi32(*current, _mm_loadu_si128((const __m128i*)&kRound[4 * group]));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, words);
            if (group >= 3 && group < 15) {
                __m128i* next = &message[(group + 1) & 3];
                *next = _mm_add_epi32(*next, _mm_alignr_epi8(*current, message[(group + 3) & 3], 4));
                *next = _mm_sha256msg2_epu32(*next, *current);
            }
            abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(words, 0x0E));
            if (group >= 1 && group < 13)
                message[(group + 3) & 3] = _mm_sha256msg1_epu32(message[(group + 3) & 3], *current);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128((__m128i*)&state[0], _mm_blend_epi16(feba, dchg, 0xF0));  // DCBA
    _mm_storeu_si128((__m128i*)&state[4], _mm_alignr_epi8(dchg, feba, 8));     // HGFE
}
#else
void Sha256BlocksWithExtensions(uint32_t state[8], const unsigned char* blocks, size_t count)
{
    Sha256BlocksPortable(state, blocks, count);
}
#endif

static int ProcessorHasShaExtensions()
{
#ifdef SHA256_HAS_EXTENSIONS_PATH
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSSE3) || !(c & bit_SSE4_1) || __get_cpuid_max(0, 0) < 7)
        return 0;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & (1u << 29)) != 0;
#else
    return 0;
#endif
}

void Sha256Init(Sha256Context* context)
{
    static const uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                         0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(context->state, kInitial, sizeof kInitial);
    context->length = 0;
    context->hashBlocks = ProcessorHasShaExtensions() ? Sha256BlocksWithExtensions : Sha256BlocksPortable;
}

void Sha256Update(Sha256Context* context, const void* data, size_t size)
{
    const unsigned char* bytes = (const unsigned char*)data;
    size_t filled = (size_t)(context->length % 64);
    context->length += size;
    if (filled > 0) {
        size_t take = 64 - filled < size ? 64 - filled : size;
        memcpy(context->block + filled, bytes, take);
        bytes += take;
        size -= take;
        if (filled + take < 64)
            return;
        context->hashBlocks(context->state, context->block, 1);
    }
    context->hashBlocks(context->state, bytes, size / 64);
    bytes += size - size % 64;
    memcpy(context->block, bytes, size % 64);
}

void Sha256Final(Sha256Context* context, unsigned char digest[SHA256_SIZE])
{
    uint64_t bits = context->length * 8;
    size_t filled = (size_t)(context->length % 64);
    context->block[filled++] = 0x80;
    if (filled > 56) {
        memset(context->block + filled, 0, 64 - filled);
        context->hashBlocks(context->state, context->block, 1);
        filled = 0;
    }
    memset(context->block + filled, 0, 56 - filled);
    for (int i = 0; i < 8; ++i)
        context->block[56 + i] = (unsigned char)(bits >> (56 - 8 * i));
    context->hashBlocks(context->state, context->block, 1);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = (unsigned char)(context->state[i] >> 24);
        digest[4 * i + 1] = (unsigned char)(context->state[i] >> 16);
        digest[4 * i + 2] = (unsigned char)(context->state[i] >> 8);
        digest[4 * i + 3] = (unsigned char)context->state[i];
    }
}
