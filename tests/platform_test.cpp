// The platform module: text-to-double conversion with the same results on every platform, and
// the identity of files.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "format/decimal.h"
#include "platform/file_identity.h"
#include "platform/text_to_double.h"
#include "test_support.h"

using namespace psd;

namespace {

// Each text beside the bits of the double that the GNU C library's strtod gives for it and the
// length it reads. The hexadecimal ones can be checked by eye (0x1p-3 is 0x3fc...); the decimal
// ones are the correctly rounded doubles of IEEE 754, halfway cases and the limits of the
// subnormal and normal ranges included; the NaN payloads follow glibc's rule (the characters in
// the parentheses read by strtoull in base 0, kept in the low 51 bits of a quiet NaN).
const struct {
    const char* text;
    std::uint64_t bits;
    int length;
} conversions[] = {
    // hexadecimal
    {"0x1p-3", 0x3fc0000000000000, 6},
    {"0X1.8P+1", 0x4008000000000000, 8},
    {"-0x1.fffffffffffffp1023", 0xffefffffffffffff, 23},
    {"0x1p-1074", 0x0000000000000001, 9},
    {"0x1p-1075", 0x0000000000000000, 9},  // halfway to the least subnormal: to even, 0
    {"0x1.8p-1075", 0x0000000000000001, 11},
    {"0x1.00000000000008p0", 0x3ff0000000000000, 20},  // halfway: to even
    {"0x1.00000000000018p0", 0x3ff0000000000002, 20},
    {"0x1.000000000000080000001p0", 0x3ff0000000000001, 27},
    {"0x1p1024", 0x7ff0000000000000, 8},
    {"0x", 0x0000000000000000, 1},
    {"0xg", 0x0000000000000000, 1},
    // infinities
    {"inf", 0x7ff0000000000000, 3},
    {"INF", 0x7ff0000000000000, 3},
    {"-inf", 0xfff0000000000000, 4},
    {"+Infinity", 0x7ff0000000000000, 9},
    {"infinity", 0x7ff0000000000000, 8},
    {"INFINITY", 0x7ff0000000000000, 8},
    {"infin", 0x7ff0000000000000, 3},
    // not-a-numbers
    {"nan", 0x7ff8000000000000, 3},
    {"NAN", 0x7ff8000000000000, 3},
    {"-nan", 0xfff8000000000000, 4},
    {"+nan", 0x7ff8000000000000, 4},
    {"nan(123)", 0x7ff800000000007b, 8},
    {"-nan(123)", 0xfff800000000007b, 9},
    {"nan(0x1f)", 0x7ff800000000001f, 9},
    {"nan(017)", 0x7ff800000000000f, 8},
    {"nan(08)", 0x7ff8000000000000, 7},
    {"nan()", 0x7ff8000000000000, 5},
    {"nan(abc_1)", 0x7ff8000000000000, 10},
    {"nan(a-b)", 0x7ff8000000000000, 3},
    {"nan(", 0x7ff8000000000000, 3},
    {"nan(99999999999999999999)", 0x7fffffffffffffff, 25},
    // out of range, and the edges of the range
    {"1.7976931348623157e308", 0x7fefffffffffffff, 22},
    {"1.7976931348623158e308", 0x7fefffffffffffff, 22},
    {"1.7976931348623159e308", 0x7ff0000000000000, 22},
    {"1e309", 0x7ff0000000000000, 5},
    {"-1e400", 0xfff0000000000000, 6},
    {"4.9406564584124654e-324", 0x0000000000000001, 23},
    {"2.4703282292062327e-324", 0x0000000000000000, 23},
    {"2.4703282292062328e-324", 0x0000000000000001, 23},
    {"2.2250738585072011e-308", 0x000fffffffffffff, 23},
    {"2.2250738585072014e-308", 0x0010000000000000, 23},
    {"1e-400", 0x0000000000000000, 6},
    {"-1e-400", 0x8000000000000000, 7},
    {"1e-320", 0x00000000000007e8, 6},
    // 17 and more digits
    {"0.1234567890123456789012", 0x3fbf9add3746f65f, 24},
    {"9007199254740993", 0x4340000000000000, 16},  // 2^53 + 1, halfway: to even
    {"9007199254740993.000000000000001", 0x4340000000000001, 32},
    {"1.00000000000000011102230246251565404236316680908203125", 0x3ff0000000000000, 55},
    {"1.000000000000000111022302462515654042363166809082031251", 0x3ff0000000000001, 56},
    {"123456789012345678901234567890e-10", 0x43e56a95319d63e1, 34},
    {"89255.0e-22", 0x3c6494af6ce5221f, 11},
    {"1e23", 0x44b52d02c7e14af6, 4},
    {"8.98846567431158e307", 0x7fe0000000000000, 20},
    // no number, or a number followed by text
    {"-", 0x0000000000000000, 0},
    {"--1", 0x0000000000000000, 0},
    {"-x", 0x0000000000000000, 0},
    {"+.e3", 0x0000000000000000, 0},
    {"-.e3", 0x0000000000000000, 0},
    {"1e", 0x3ff0000000000000, 1},
    {"1e+", 0x3ff0000000000000, 1},
    {"-0", 0x8000000000000000, 2},
    {"0e999999", 0x0000000000000000, 8},
};

}  // namespace

TEST(TextToDouble, GivesTheGnuCLibraryBitsForEveryForm) {
    for (const auto& c : conversions) {
        char* end = nullptr;
        EXPECT_EQ(bits(text_to_double(c.text, &end)), c.bits) << c.text;
        EXPECT_EQ(end - c.text, c.length) << c.text;
    }
}

TEST(TextToDouble, GivesTheSameBitsThroughTheSampleConversions) {
    // The sample reader converts through a fast path, std::from_chars and text_to_double; all
    // three together must still give these bits, and take a token as a number only when all of
    // it is read.
    for (const auto& c : conversions) {
        const std::size_t size = std::strlen(c.text);
        EXPECT_EQ(bits(convert_number(c.text, c.text + size)), c.bits) << c.text;
        double value = 0.0;
        const bool whole = static_cast<std::size_t>(c.length) == size;
        EXPECT_EQ(convert_token(c.text, c.text + size, &value), whole) << c.text;
        if (whole) {
            EXPECT_EQ(bits(value), c.bits) << c.text;
        }
    }
}

TEST(FileIdentity, TellsOneFileByItsIdentityAndOtherwiseByName) {
    TempDir dir;
    write_file(dir.file("d.txt"), "0 1 1\n");
    write_file(dir.file("other.txt"), "0 1 1\n");
    std::filesystem::create_hard_link(dir.file("d.txt"), dir.file("link.txt"));
    EXPECT_TRUE(same_file(dir.file("d.txt").c_str(), dir.file("d.txt").c_str()));
    EXPECT_TRUE(same_file(dir.file("d.txt").c_str(), dir.file("link.txt").c_str()));
    EXPECT_TRUE(same_file(dir.file("d.txt").c_str(), (dir.path() + "/./d.txt").c_str()));
    EXPECT_FALSE(same_file(dir.file("d.txt").c_str(), dir.file("other.txt").c_str()));
    // Names that do not both exist compare as text.
    EXPECT_TRUE(same_file(dir.file("new.txt").c_str(), dir.file("new.txt").c_str()));
    EXPECT_FALSE(same_file(dir.file("new.txt").c_str(), dir.file("d.txt").c_str()));
#ifdef _WIN32  // names ignore case there, and either slash separates folders
    EXPECT_TRUE(same_file(dir.file("d.txt").c_str(), dir.file("D.TXT").c_str()));
    EXPECT_TRUE(same_file(dir.file("New.txt").c_str(), (dir.path() + "\\new.TXT").c_str()));
#endif

    File stream(std::fopen(dir.file("d.txt").c_str(), "rb"));
    ASSERT_TRUE(stream);
    EXPECT_TRUE(is_regular_file(stream.get()));
#ifdef _WIN32
    File device(std::fopen("NUL", "rb"));
#else
    File device(std::fopen("/dev/null", "rb"));
#endif
    ASSERT_TRUE(device);
    EXPECT_FALSE(is_regular_file(device.get()));
}
