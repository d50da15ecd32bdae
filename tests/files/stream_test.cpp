#include <gtest/gtest.h>

#include "files/archive.h"
#include "files/datafs.h"
#include "files/scramble.h"
#include "files/stream.h"
#include "files_test_util.h"

using files_test::byte_stream;
using files_test::gzip_with_header;
using files_test::noisy_text;
using files_test::read_all_blocks;
using files_test::read_all_getc;

TEST(stream, peek_then_getc_hands_out_the_byte_once)
{
    byte_stream s("AB", false, false);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(stream_peekc(s.get()), 'A');
    EXPECT_EQ(stream_peekc(s.get()), 'A');
    EXPECT_EQ(s->position, 0);
    EXPECT_EQ(stream_getc(s.get()), 'A');
    EXPECT_EQ(s->position, 1);
    EXPECT_EQ(stream_getc(s.get()), 'B');
    EXPECT_EQ(s->position, 2);
    EXPECT_EQ(stream_peekc(s.get()), -1);
    EXPECT_EQ(stream_getc(s.get()), -1);
    EXPECT_EQ(s->position, 2);
}

TEST(stream, window_ends_at_its_length_although_the_file_goes_on)
{
    byte_stream s("HEADERmember-bytesTRAILER", false, false, 6, 12);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(read_all_getc(s.get()), "member-bytes");
    char buf[16];
    EXPECT_EQ(stream_read(s.get(), buf, sizeof buf), 0u);
    EXPECT_EQ(stream_gets(s.get(), buf, sizeof buf), nullptr);

    // A peeked byte counts against the window exactly once.
    byte_stream t("HEADERmember-bytesTRAILER", false, false, 6, 12);
    EXPECT_EQ(stream_read(t.get(), buf, 10), 10u);
    EXPECT_EQ(stream_peekc(t.get()), 'e');
    EXPECT_EQ(stream_read(t.get(), buf, sizeof buf), 2u);
    EXPECT_EQ(std::string(buf, 2), "es");
    EXPECT_EQ(t->position, 12);
    EXPECT_EQ(stream_getc(t.get()), -1);
}

TEST(stream, gets_copies_up_to_the_newline_or_size_minus_one)
{
    byte_stream s("line1\nlonger line\nlast", false, false);
    char buf[1024];
    ASSERT_NE(stream_gets(s.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "line1\n");
    ASSERT_NE(stream_gets(s.get(), buf, 5), nullptr);
    EXPECT_STREQ(buf, "long");
    ASSERT_NE(stream_gets(s.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "er line\n");
    ASSERT_NE(stream_gets(s.get(), buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "last");
    EXPECT_EQ(stream_gets(s.get(), buf, sizeof buf), nullptr);
}

TEST(stream, seek_moves_inside_the_window_and_drops_the_pushback)
{
    byte_stream s("xx0123456789yy", false, false, 2, 10);
    EXPECT_EQ(stream_peekc(s.get()), '0');
    ASSERT_TRUE(stream_seek(s.get(), 7));
    EXPECT_EQ(s->position, 7);
    EXPECT_EQ(stream_getc(s.get()), '7');
    EXPECT_FALSE(stream_seek(s.get(), 10));
    EXPECT_FALSE(stream_seek(s.get(), -1));
    EXPECT_EQ(stream_getc(s.get()), '8');
    ASSERT_TRUE(stream_seek(s.get(), 0));
    EXPECT_EQ(read_all_getc(s.get()), "0123456789");
}

class gzip_header_flags : public ::testing::TestWithParam<int> {};

TEST_P(gzip_header_flags, optional_fields_are_skipped)
{
    std::string text = "SOUNDTABLE 2 3\n1000 2000\n0 0.5 1\n";
    byte_stream s(gzip_with_header(text, GetParam()), true, false);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(read_all_getc(s.get()), text);
}

INSTANTIATE_TEST_SUITE_P(stream, gzip_header_flags,
                         ::testing::Values(0, files_test::GZ_NAME, files_test::GZ_EXTRA, files_test::GZ_COMMENT,
                                           files_test::GZ_HCRC,
                                           files_test::GZ_NAME | files_test::GZ_EXTRA | files_test::GZ_COMMENT |
                                               files_test::GZ_HCRC));

TEST(stream, invalid_gzip_headers_fail_the_set_up)
{
    std::string good = gzip_with_header("data", files_test::GZ_NAME);
    for (int reserved : {32, 64, 128}) {
        std::string g = good;
        g[3] = (char)(g[3] | reserved);
        EXPECT_FALSE(byte_stream(g, true, false).ok) << reserved;
    }
    std::string bad_magic = good;
    bad_magic[1] = 0x8c;
    EXPECT_FALSE(byte_stream(bad_magic, true, false).ok);
    std::string bad_method = good;
    bad_method[2] = 7;
    EXPECT_FALSE(byte_stream(bad_method, true, false).ok);
    EXPECT_FALSE(byte_stream(good.substr(0, 9), true, false).ok);
    EXPECT_FALSE(byte_stream("", true, false).ok);
    // File name without its terminating zero in the buffered bytes.
    std::string unterminated = std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03", 10) + "name-without-end";
    EXPECT_FALSE(byte_stream(unterminated, true, false).ok);
    // Extra field longer than what follows.
    std::string long_extra = std::string("\x1f\x8b\x08\x04\0\0\0\0\0\x03\xff\x7f", 12) + "short";
    EXPECT_FALSE(byte_stream(long_extra, true, false).ok);
    // Header crc cut off.
    EXPECT_FALSE(byte_stream(std::string("\x1f\x8b\x08\x02\0\0\0\0\0\x03\x12", 11), true, false).ok);
}

TEST(stream, large_gzip_content_reads_the_same_by_bytes_and_blocks)
{
    std::string text = noisy_text(300000);
    std::string gz;
    ASSERT_TRUE(gzip_bytes(text.data(), text.size(), &gz));
    ASSERT_GT(gz.size(), 3u * STREAM_GZIP_IN);  // several input refills
    byte_stream a(gz, true, false);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(read_all_getc(a.get()), text);
    EXPECT_EQ(a->position, (long)text.size());
    byte_stream b(gz, true, false);
    EXPECT_EQ(read_all_blocks(b.get(), 777), text);
    EXPECT_EQ(stream_getc(b.get()), -1);
}

TEST(stream, truncated_gzip_ends_with_a_prefix_of_the_content)
{
    std::string text = noisy_text(100000);
    std::string gz;
    ASSERT_TRUE(gzip_bytes(text.data(), text.size(), &gz));
    byte_stream s(gz.substr(0, gz.size() / 2), true, false);
    ASSERT_TRUE(s.ok);
    std::string got = read_all_blocks(s.get(), 4096);
    EXPECT_GT(got.size(), 0u);
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(got, text.substr(0, got.size()));
    EXPECT_EQ(stream_getc(s.get()), -1);
    EXPECT_EQ(stream_getc(s.get()), -1);
}

TEST(stream, corrupt_gzip_data_end_the_stream_cleanly)
{
    std::string text = noisy_text(50000);
    std::string gz = gzip_with_header(text, 0);
    // Block type 3 is invalid: the very first block fails.
    std::string bad_block = gz;
    bad_block[10] = (char)0xff;
    byte_stream a(bad_block, true, false);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(read_all_getc(a.get()), "");

    // Damage in the middle: whatever comes out, reading ends and stays ended.
    std::string damaged = gz;
    for (size_t i = gz.size() / 2; i < gz.size() / 2 + 64; i++)
        damaged[i] = (char)(damaged[i] ^ 0x5a);
    byte_stream b(damaged, true, false);
    ASSERT_TRUE(b.ok);
    std::string got = read_all_blocks(b.get(), 1000);
    size_t intact = text.size() / 4;  // well before the damaged block
    ASSERT_GE(got.size(), intact);
    EXPECT_EQ(got.substr(0, intact), text.substr(0, intact));
    char c;
    EXPECT_EQ(stream_read(b.get(), &c, 1), 0u);
}

TEST(stream, gzip_member_never_reads_past_its_compressed_length)
{
    std::string text = noisy_text(60000);
    std::string gz;
    ASSERT_TRUE(gzip_bytes(text.data(), text.size(), &gz));
    std::string file = "HEAD" + gz + "NEXT-MEMBER";
    byte_stream whole(file, true, false, 4, (long)gz.size());
    ASSERT_TRUE(whole.ok);
    EXPECT_EQ(read_all_blocks(whole.get(), 1000), text);

    // A window that stops halfway gives a strict prefix even though the
    // rest of the compressed data follows in the file.
    byte_stream half(file, true, false, 4, (long)gz.size() / 2);
    ASSERT_TRUE(half.ok);
    std::string got = read_all_blocks(half.get(), 1000);
    EXPECT_LT(got.size(), text.size());
    EXPECT_EQ(got, text.substr(0, got.size()));
}

TEST(stream, seek_is_refused_on_gzip_and_scrambled_streams)
{
    std::string gz;
    ASSERT_TRUE(gzip_bytes("abcdef", 6, &gz));
    byte_stream g(gz, true, false);
    ASSERT_TRUE(g.ok);
    EXPECT_EQ(stream_getc(g.get()), 'a');
    EXPECT_EQ(stream_getc(g.get()), 'b');
    EXPECT_FALSE(stream_seek(g.get(), 0));
    EXPECT_EQ(g->position, 2);
    EXPECT_EQ(stream_getc(g.get()), 'c');

    byte_stream s(scramble_bytes("abcdef", 6, 1), false, true);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(stream_getc(s.get()), 'a');
    EXPECT_FALSE(stream_seek(s.get(), 0));
    EXPECT_EQ(stream_getc(s.get()), 'b');
}

TEST(stream, scrambled_content_round_trips)
{
    std::string text = noisy_text(70000);
    std::string scrambled = scramble_bytes(text.data(), text.size(), 0x1122334455667788ull);
    EXPECT_EQ(scrambled.size(), text.size() + SCRAMBLE_HEADER_SIZE);
    EXPECT_EQ(scrambled.find(text.substr(0, 64)), std::string::npos);
    byte_stream a(scrambled, false, true);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(read_all_blocks(a.get(), 333), text);
    byte_stream b(scrambled, false, true);
    EXPECT_EQ(read_all_getc(b.get()), text);

    // gzip inside the scrambling.
    std::string gz;
    ASSERT_TRUE(gzip_bytes(text.data(), text.size(), &gz));
    byte_stream c(scramble_bytes(gz.data(), gz.size(), 7), true, true);
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(read_all_blocks(c.get(), 4096), text);

    // Different nonces give different bytes for the same content.
    EXPECT_NE(scramble_bytes("same", 4, 1).substr(SCRAMBLE_HEADER_SIZE),
              scramble_bytes("same", 4, 2).substr(SCRAMBLE_HEADER_SIZE));
}

TEST(stream, scrambled_member_keeps_to_its_window)
{
    std::string text = noisy_text(5000);
    std::string scrambled = scramble_bytes(text.data(), text.size(), 99);
    std::string file = "xyz" + scrambled + scramble_bytes("other member", 12, 5);
    byte_stream s(file, false, true, 3, (long)scrambled.size());
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(read_all_blocks(s.get(), 1000), text);
}

TEST(stream, scrambled_file_with_a_bad_header_fails_to_open)
{
    std::string scrambled = scramble_bytes("content", 7, 3);
    std::string bad = scrambled;
    bad[0] = 'X';
    EXPECT_FALSE(byte_stream(bad, false, true).ok);
    EXPECT_FALSE(byte_stream(scrambled.substr(0, SCRAMBLE_HEADER_SIZE - 1), false, true).ok);
    // An empty content is fine: the header alone.
    byte_stream empty(scramble_bytes("", 0, 3), false, true);
    ASSERT_TRUE(empty.ok);
    EXPECT_EQ(stream_getc(empty.get()), -1);
}

TEST(stream, writes_go_to_plain_files_only)
{
    test::temp_dir dir;
    std::string path = dir / "out.txt";
    data_stream* w = open_data_file(path.c_str(), "wb");
    ASSERT_NE(w, nullptr);
    EXPECT_NE(stream_putc(w, 'A'), EOF);
    EXPECT_GE(stream_puts(w, "BC\n"), 0);
    EXPECT_EQ(stream_write(w, "xyz", 3), 3u);
    EXPECT_EQ(stream_printf(w, " %d %.2f\n", 42, 1.5), 9);
    EXPECT_EQ(stream_flush(w), 0);
    close_data_file(w);
    EXPECT_EQ(test::read_file(path), "ABC\nxyz 42 1.50\n");

    std::string gz;
    ASSERT_TRUE(gzip_bytes("abc", 3, &gz));
    byte_stream g(gz, true, false);
    ASSERT_TRUE(g.ok);
    EXPECT_EQ(stream_putc(g.get(), 'x'), EOF);
    EXPECT_EQ(stream_write(g.get(), "x", 1), 0u);
}
