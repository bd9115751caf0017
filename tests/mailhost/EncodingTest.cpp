#include "mailhost/pst/bytes/Encoding.h"
#include "mailhost/pst/bytes/Crc.h"
#include "mailhost/pst/bytes/EncodingKernels.h"
#include "mailhost/pst/bytes/EncodingTables.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <string_view>
#include <vector>

using namespace parcelon::pst;

namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> counting(std::size_t n)
{
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), std::uint8_t(0));
    return v;
}

} // namespace

TEST(Crc, FormatVariantOfCrc32)
{
    EXPECT_EQ(pstCrc(bytesOf("123456789")), 0x2DFD2D88u);
    EXPECT_EQ(pstCrc(std::vector<std::uint8_t>(471, 0)), 0u);
    const auto data = bytesOf("the quick brown fox jumps over the lazy dog");
    const std::uint32_t whole = pstCrc(data);
    const std::uint32_t split = pstCrc(std::span(data).subspan(10), pstCrc(std::span(data).first(10)));
    EXPECT_EQ(split, whole);
}

TEST(Encoding, PermuteAndCyclicMatchTheFormat)
{
    auto permuted = counting(16);
    permuteEncode(permuted);
    EXPECT_EQ(permuted,
              (std::vector<std::uint8_t>{0x41, 0x36, 0x13, 0x62, 0xA8, 0x21, 0x6E, 0xBB, 0xF4, 0x16, 0xCC, 0x04, 0x7F, 0x64, 0xE8,
                                         0x5D}));
    permuteDecode(permuted);
    EXPECT_EQ(permuted, counting(16));

    auto cyclic = counting(16);
    cyclicCode(cyclic, 0x00000004);
    EXPECT_EQ(cyclic,
              (std::vector<std::uint8_t>{0xB6, 0x8B, 0x67, 0xD9, 0x18, 0xC3, 0xB8, 0x3B, 0x2B, 0x61, 0xF0, 0x2E, 0x5B, 0x39, 0xFA,
                                         0xB1}));
    auto hello = bytesOf("Hello, World!");
    cyclicCode(hello, 0x12345678);
    EXPECT_EQ(hello, (std::vector<std::uint8_t>{0xFB, 0xEA, 0xDC, 0x70, 0x6B, 0xC5, 0x23, 0x03, 0xD1, 0x53, 0xF0, 0x68, 0xCE}));
    cyclicCode(hello, 0x12345678);
    EXPECT_EQ(hello, bytesOf("Hello, World!"));
}

TEST(Encoding, CyclicKeyIgnoresTheReservedBidBit)
{
    auto a = counting(64), b = counting(64);
    encodeBlock(Encoding::Cyclic, a, 0x152C);
    encodeBlock(Encoding::Cyclic, b, 0x152D);
    EXPECT_EQ(a, b);
    decodeBlock(Encoding::Cyclic, a, 0x152D);
    EXPECT_EQ(a, counting(64));
}

// The vector versions against the portable one on random bytes of every
// length up to past a 4 KiB block, at shifting alignments, in another buffer,
// in place and moved down, with key words whose low byte wraps inside a run.
TEST(Encoding, VectorVersionsGiveThePortableBytes)
{
    const auto kernels = codingKernels();
    ASSERT_STREQ(kernels.back().name, "portable");
    if (kernels.size() == 1)
        GTEST_SKIP() << "this CPU runs only the portable version";
    const CodingKernel& portable = kernels.back();
    std::mt19937 random(20261208);
    std::vector<std::uint8_t> input(4100 + 128);
    for (auto& b : input)
        b = static_cast<std::uint8_t>(random());

    for (const CodingKernel& kernel : kernels.first(kernels.size() - 1)) {
        SCOPED_TRACE(kernel.name);
        for (std::size_t n = 0; n <= 4100; ++n) {
            const std::size_t at = 64 + n % 61;
            const std::uint8_t* in = input.data() + at;
            const auto w = static_cast<std::uint16_t>(random());
            std::vector<std::uint8_t> want(n), got(n);

            for (const auto* table : {tables::kI.data(), tables::kR.data()}) {
                portable.substitute(table, in, want.data(), n);
                kernel.substitute(table, in, got.data(), n);
                ASSERT_EQ(got, want) << "substitution of " << n << " bytes";
            }
            portable.cyclic(in, want.data(), n, w);
            kernel.cyclic(in, got.data(), n, w);
            ASSERT_EQ(got, want) << "cyclic over " << n << " bytes from key word " << w;

            // The same in place, and moved 13 bytes down as blocks are.
            for (const std::size_t down : {std::size_t(0), std::size_t(13)}) {
                std::vector<std::uint8_t> buffer(input.begin(), input.end());
                kernel.cyclic(buffer.data() + at, buffer.data() + at - down, n, w);
                ASSERT_TRUE(std::equal(want.begin(), want.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at - down)))
                    << "cyclic over " << n << " bytes moved " << down << " down";
            }
        }
    }
}
