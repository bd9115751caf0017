#include "mailhost/pst/bytes/EncodingKernels.h"

#include "mailhost/pst/bytes/EncodingTables.h"

#include <cstring>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PARCELON_X86_KERNELS 1
#include <immintrin.h>
#endif

namespace parcelon::pst {

namespace {

using tables::kI;
using tables::kR;
using tables::kS;

// --- Portable ---------------------------------------------------------------

// Eight bytes a turn: one load and one store of a word, eight independent
// lookups. Bytes go back where they came from, whatever the byte order.
void substitutePortable(const std::uint8_t* table, const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t v;
        std::memcpy(&v, in + i, 8);
        std::uint64_t r = 0;
        for (int k = 0; k < 64; k += 8)
            r |= std::uint64_t(table[(v >> k) & 0xFF]) << k;
        std::memcpy(out + i, &r, 8);
    }
    for (; i < n; ++i)
        out[i] = table[in[i]];
}

void cyclicPortable(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::uint16_t w)
{
    for (std::size_t i = 0; i < n; ++i, ++w) {
        const auto lo = static_cast<std::uint8_t>(w & 0xFF);
        const auto hi = static_cast<std::uint8_t>(w >> 8);
        std::uint8_t v = static_cast<std::uint8_t>(in[i] + lo);
        v = static_cast<std::uint8_t>(kR[v] + hi);
        v = static_cast<std::uint8_t>(kS[v] - hi);
        out[i] = static_cast<std::uint8_t>(kI[v] - lo);
    }
}

#ifdef PARCELON_X86_KERNELS

// --- AVX-512 VBMI: 64 bytes a turn --------------------------------------------

#define PARCELON_VBMI __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi2")))

// A 256-byte table in four registers; two two-register permutes look up the
// low seven bits, the top bit picks between them.
struct VbmiTable {
    __m512i part[4];

    PARCELON_VBMI explicit VbmiTable(const std::uint8_t* table)
    {
        for (int k = 0; k < 4; ++k)
            part[k] = _mm512_loadu_si512(table + 64 * k);
    }

    PARCELON_VBMI __m512i operator()(__m512i x) const
    {
        const __m512i low = _mm512_permutex2var_epi8(part[0], x, part[1]);
        const __m512i high = _mm512_permutex2var_epi8(part[2], x, part[3]);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);
    }
};

PARCELON_VBMI __mmask64 firstBytes(std::size_t n)
{
    return _bzhi_u64(~std::uint64_t(0), static_cast<unsigned>(n));
}

PARCELON_VBMI void substituteVbmi(const std::uint8_t* table, const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    const VbmiTable t(table);
    std::size_t i = 0;
    for (; i + 64 <= n; i += 64)
        _mm512_storeu_si512(out + i, t(_mm512_loadu_si512(in + i)));
    if (i < n) {
        const __mmask64 m = firstBytes(n - i);
        _mm512_mask_storeu_epi8(out + i, m, t(_mm512_maskz_loadu_epi8(m, in + i)));
    }
}

PARCELON_VBMI void cyclicVbmi(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::uint16_t w)
{
    const VbmiTable r(kR.data()), s(kS.data()), inverse(kI.data());
    alignas(64) std::uint8_t counting[64];
    for (int k = 0; k < 64; ++k)
        counting[k] = static_cast<std::uint8_t>(k);
    const __m512i iota = _mm512_load_si512(counting);
    const __m512i one = _mm512_set1_epi8(1);
    for (std::size_t i = 0; i < n; i += 64, w = static_cast<std::uint16_t>(w + 64)) {
        // The key word of each byte: its low byte counts up from w's, its
        // high byte gains one where the low one wrapped.
        const __m512i loStart = _mm512_set1_epi8(static_cast<char>(w & 0xFF));
        const __m512i hiStart = _mm512_set1_epi8(static_cast<char>(w >> 8));
        const __m512i lo = _mm512_add_epi8(loStart, iota);
        const __m512i hi = _mm512_mask_add_epi8(hiStart, _mm512_cmplt_epu8_mask(lo, loStart), hiStart, one);
        const __mmask64 m = n - i >= 64 ? ~__mmask64(0) : firstBytes(n - i);
        __m512i v = _mm512_maskz_loadu_epi8(m, in + i);
        v = r(_mm512_add_epi8(v, lo));
        v = s(_mm512_add_epi8(v, hi));
        v = inverse(_mm512_sub_epi8(v, hi));
        _mm512_mask_storeu_epi8(out + i, m, _mm512_sub_epi8(v, lo));
    }
}

// --- AVX2: 32 bytes a turn ----------------------------------------------------

#define PARCELON_AVX2 __attribute__((target("avx2")))

// A 256-byte table as sixteen 16-byte parts; each byte takes its value from
// the part its high nibble names, at the place its low nibble names.
struct Avx2Table {
    __m256i part[16];

    PARCELON_AVX2 explicit Avx2Table(const std::uint8_t* table)
    {
        for (int k = 0; k < 16; ++k)
            part[k] = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * k)));
    }

    PARCELON_AVX2 __m256i operator()(__m256i x) const
    {
        const __m256i nibble = _mm256_set1_epi8(0x0F);
        const __m256i low = _mm256_and_si256(x, nibble);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble);
        __m256i result = _mm256_setzero_si256();
        for (int k = 0; k < 16; ++k) {
            const __m256i chosen = _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(k)));
            result = _mm256_or_si256(result, _mm256_and_si256(chosen, _mm256_shuffle_epi8(part[k], low)));
        }
        return result;
    }
};

PARCELON_AVX2 void substituteAvx2(const std::uint8_t* table, const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    const Avx2Table t(table);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), t(x));
    }
    substitutePortable(table, in + i, out + i, n - i);
}

PARCELON_AVX2 void cyclicAvx2(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::uint16_t w)
{
    const Avx2Table r(kR.data()), s(kS.data()), inverse(kI.data());
    const __m256i iota = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23,
                                          24, 25, 26, 27, 28, 29, 30, 31);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32, w = static_cast<std::uint16_t>(w + 32)) {
        const int loStart = w & 0xFF;
        const __m256i lo = _mm256_add_epi8(_mm256_set1_epi8(static_cast<char>(loStart)), iota);
        // Byte k's low byte wraps where k > 255 - loStart (k < 32 and the
        // bound both fit a signed byte only when the bound is below 32).
        __m256i hi = _mm256_set1_epi8(static_cast<char>(w >> 8));
        if (255 - loStart < 32)
            hi = _mm256_sub_epi8(hi, _mm256_cmpgt_epi8(iota, _mm256_set1_epi8(static_cast<char>(255 - loStart))));
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        v = r(_mm256_add_epi8(v, lo));
        v = s(_mm256_add_epi8(v, hi));
        v = inverse(_mm256_sub_epi8(v, hi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_sub_epi8(v, lo));
    }
    cyclicPortable(in + i, out + i, n - i, w);
}

#endif

std::vector<CodingKernel> available()
{
    std::vector<CodingKernel> kernels;
#ifdef PARCELON_X86_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("bmi2"))
        kernels.push_back({"avx512vbmi", substituteVbmi, cyclicVbmi});
    if (__builtin_cpu_supports("avx2"))
        kernels.push_back({"avx2", substituteAvx2, cyclicAvx2});
#endif
    kernels.push_back({"portable", substitutePortable, cyclicPortable});
    return kernels;
}

} // namespace

std::span<const CodingKernel> codingKernels()
{
    static const std::vector<CodingKernel> kernels = available();
    return kernels;
}

} // namespace parcelon::pst
