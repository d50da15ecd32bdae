#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "files/archive.h"
#include "files/stream.h"
#include "files_test_util.h"

using files_test::byte_stream;

namespace {

// Forwards without the compiler's format check, for size letters the
// checker does not know ("q") or would warn about.
int scan_unchecked(data_stream* s, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int r = stream_vscan(s, format, args);
    va_end(args);
    return r;
}

}  // namespace

TEST(stream_scan, keyword_mismatch_returns_minus_one_and_leaves_the_byte)
{
    byte_stream s("NOTATABLE 3 4", false, false);
    int rows = -5, cols = -5;
    EXPECT_EQ(stream_scan(s.get(), "SOUNDTABLE %d %d", &rows, &cols), -1);
    EXPECT_EQ(rows, -5);
    EXPECT_EQ(stream_getc(s.get()), 'N');  // the mismatching byte stays

    byte_stream p("SOUNDSYSTEM 3 4", false, false);
    EXPECT_EQ(stream_scan(p.get(), "SOUNDTABLE %d %d", &rows, &cols), -1);
    EXPECT_EQ(stream_getc(p.get()), 'S');  // "SOUND" was taken
    EXPECT_EQ(stream_getc(p.get()), 'Y');

    byte_stream t("  SOUNDTABLE  3\n4 rest", false, false);
    EXPECT_EQ(stream_scan(t.get(), " SOUNDTABLE %d %d", &rows, &cols), 2);
    EXPECT_EQ(rows, 3);
    EXPECT_EQ(cols, 4);

    // A literal mismatch after a conversion still gives -1.
    byte_stream u("5 ,6", false, false);
    int a = 0, b = 0;
    EXPECT_EQ(stream_scan(u.get(), "%d ;%d", &a, &b), -1);
    EXPECT_EQ(a, 5);
}

TEST(stream_scan, number_and_bounded_word)
{
    std::string word(2000, 'w');
    byte_stream s(" 3.5 " + word + " tail", false, false);
    float periods = 0;
    char name[1024 + 8];
    memset(name, '#', sizeof name);
    EXPECT_EQ(stream_scan(s.get(), "%f %1023s", &periods, name), 2);
    EXPECT_FLOAT_EQ(periods, 3.5f);
    EXPECT_EQ(strlen(name), 1023u);
    for (size_t i = 1024; i < sizeof name; i++)
        EXPECT_EQ(name[i], '#');
    // The rest of the long word is the next token.
    EXPECT_EQ(stream_scan(s.get(), "%1023s", name), 1);
    EXPECT_EQ(strlen(name), 2000u - 1023u);
    EXPECT_EQ(stream_scan(s.get(), "%1023s", name), 1);
    EXPECT_STREQ(name, "tail");
    EXPECT_EQ(stream_scan(s.get(), "%1023s", name), -1);
}

TEST(stream_scan, end_of_input_before_the_first_conversion_is_minus_one)
{
    int a = 0, b = 0;
    EXPECT_EQ(stream_scan(byte_stream("", false, false).get(), "%d", &a), -1);
    EXPECT_EQ(stream_scan(byte_stream("   \n ", false, false).get(), "%d", &a), -1);
    EXPECT_EQ(stream_scan(byte_stream("abc", false, false).get(), "%d", &a), 0);
    EXPECT_EQ(stream_scan(byte_stream("5", false, false).get(), "%d %d", &a, &b), 1);
    EXPECT_EQ(stream_scan(byte_stream("5 x", false, false).get(), "%d %d", &a, &b), 1);
    // A suppressed conversion counts as a conversion for the end test.
    EXPECT_EQ(stream_scan(byte_stream("5", false, false).get(), "%*d %d", &a), 0);
    EXPECT_EQ(stream_scan(byte_stream("1 2", false, false).get(), "%*d %d", &a), 1);
    EXPECT_EQ(a, 2);
}

TEST(stream_scan, integer_bases_widths_and_sizes)
{
    byte_stream s("0x1F 017 -12 0X10 +9 ff 0x10 17 12345 -7", false, false);
    int i1, i2, i3, i4, i5;
    unsigned x1, x2, o1;
    EXPECT_EQ(stream_scan(s.get(), "%i %i %i %i %i", &i1, &i2, &i3, &i4, &i5), 5);
    EXPECT_EQ(i1, 31);
    EXPECT_EQ(i2, 15);
    EXPECT_EQ(i3, -12);
    EXPECT_EQ(i4, 16);
    EXPECT_EQ(i5, 9);
    EXPECT_EQ(stream_scan(s.get(), "%x %X %o", &x1, &x2, &o1), 3);
    EXPECT_EQ(x1, 255u);
    EXPECT_EQ(x2, 16u);
    EXPECT_EQ(o1, 15u);
    int w1, w2;
    EXPECT_EQ(stream_scan(s.get(), "%2d%d", &w1, &w2), 2);
    EXPECT_EQ(w1, 12);
    EXPECT_EQ(w2, 345);
    short h;
    EXPECT_EQ(stream_scan(s.get(), "%hd", &h), 1);
    EXPECT_EQ(h, -7);

    byte_stream big("99999999999999999999 -99999999999999999999 123456789012 5 6", false, false);
    long long l1, l2, l3;
    signed char hh;
    EXPECT_EQ(scan_unchecked(big.get(), "%lld %Ld", &l1, &l2), 2);
    EXPECT_EQ(l1, LLONG_MAX);
    EXPECT_EQ(l2, LLONG_MIN);
    EXPECT_EQ(scan_unchecked(big.get(), "%qd %hhd", &l3, &hh), 2);
    EXPECT_EQ(l3, 123456789012LL);
    EXPECT_EQ(hh, 5);
    long lg;
    EXPECT_EQ(scan_unchecked(big.get(), "%ld", &lg), 1);
    EXPECT_EQ(lg, 6);
}

TEST(stream_scan, floating_point_forms)
{
    byte_stream s("1.5e3 -2.25E-1 .5 7. 1ex +4", false, false);
    float f1;
    double d1;
    long double ld;
    float f2, f3;
    char rest[8];
    EXPECT_EQ(stream_scan(s.get(), "%f %lf %Lf %f", &f1, &d1, &ld, &f2), 4);
    EXPECT_FLOAT_EQ(f1, 1500.0f);
    EXPECT_DOUBLE_EQ(d1, -0.225);
    EXPECT_EQ(ld, 0.5L);
    EXPECT_FLOAT_EQ(f2, 7.0f);
    // "1e" without exponent digits is the mantissa.
    EXPECT_EQ(stream_scan(s.get(), "%f%7s", &f3, rest), 2);
    EXPECT_FLOAT_EQ(f3, 1.0f);
    EXPECT_STREQ(rest, "x");
    EXPECT_EQ(stream_scan(s.get(), "%f", &f3), 1);
    EXPECT_FLOAT_EQ(f3, 4.0f);

    // Only decimal numbers: no "nan" or "inf" slips into the data.
    byte_stream n("nan inf", false, false);
    EXPECT_EQ(stream_scan(n.get(), "%f", &f3), 0);
}

TEST(stream_scan, count_consumed_with_n)
{
    byte_stream s("  42 xyz", false, false);
    int v = 0, n1 = -1, n2 = -1;
    char w[8];
    EXPECT_EQ(stream_scan(s.get(), "%d%n %7s%n", &v, &n1, w, &n2), 2);
    EXPECT_EQ(n1, 4);
    EXPECT_EQ(n2, 8);

    // %n alone stores but does not count; end of input then still gives -1.
    byte_stream e("   ", false, false);
    int n3 = -1;
    EXPECT_EQ(stream_scan(e.get(), " %n%d", &n3, &v), -1);
    EXPECT_EQ(n3, 3);
}

TEST(stream_scan, character_sets)
{
    byte_stream s("hello123 rest of line\nnext]x-y", false, false);
    char a[16], b[64], c[8], d[8];
    EXPECT_EQ(stream_scan(s.get(), "%15[a-z]", a), 1);
    EXPECT_STREQ(a, "hello");
    EXPECT_EQ(stream_scan(s.get(), "%63[^\n]", b), 1);
    EXPECT_STREQ(b, "123 rest of line");
    EXPECT_EQ(stream_scan(s.get(), "\n%7[]a-z]", c), 1);
    EXPECT_STREQ(c, "next]x");
    // A set that matches nothing ends the scan without -1.
    EXPECT_EQ(stream_scan(s.get(), "%7[a-z]", d), 0);
    EXPECT_EQ(stream_scan(s.get(), "%7[-y]", d), 1);
    EXPECT_STREQ(d, "-y");
    EXPECT_EQ(stream_scan(s.get(), "%7[a-z]", d), -1);

    byte_stream w("abcdefgh", false, false);
    EXPECT_EQ(stream_scan(w.get(), "%3[a-z]", d), 1);
    EXPECT_STREQ(d, "abc");
}

TEST(stream_scan, characters_are_taken_as_they_come)
{
    byte_stream s(" xabc", false, false);
    char one = 0;
    char three[4];
    memset(three, '#', sizeof three);
    EXPECT_EQ(stream_scan(s.get(), "%c", &one), 1);
    EXPECT_EQ(one, ' ');
    EXPECT_EQ(stream_scan(s.get(), "%*c%3c", three), 1);
    EXPECT_EQ(std::string(three, 3), "abc");
    EXPECT_EQ(three[3], '#');  // no terminator
    EXPECT_EQ(stream_scan(s.get(), "%c", &one), -1);

    byte_stream short_input("ab", false, false);
    EXPECT_EQ(stream_scan(short_input.get(), "%3c", three), -1);
}

TEST(stream_scan, percent_literal_and_bad_directives)
{
    int v = 0;
    EXPECT_EQ(stream_scan(byte_stream("50 %", false, false).get(), "%d %%", &v), 1);
    EXPECT_EQ(stream_scan(byte_stream("50x", false, false).get(), "%d%%", &v), -1);
    EXPECT_EQ(scan_unchecked(byte_stream("1 2", false, false).get(), "%d %y", &v), 1);
    char set[8];
    EXPECT_EQ(scan_unchecked(byte_stream("abc", false, false).get(), "%7[abc", set), 0);
}

TEST(stream_scan, works_through_gzip)
{
    std::string text = "[ 1.0 2.0 3.0 ] 4.5 0.5 flag.png\n[ 5 6 7 ] 1 1 tree.png\n";
    std::string gz;
    ASSERT_TRUE(gzip_bytes(text.data(), text.size(), &gz));
    byte_stream s(gz, true, false);
    ASSERT_TRUE(s.ok);
    float x, y, z, size, aspect;
    char name[1024];
    int entries = 0;
    while (stream_scan(s.get(), "[ %f %f %f ] %f %f %1023s ", &x, &y, &z, &size, &aspect, name) == 6)
        entries++;
    EXPECT_EQ(entries, 2);
    EXPECT_STREQ(name, "tree.png");
    EXPECT_FLOAT_EQ(z, 7.0f);
}
