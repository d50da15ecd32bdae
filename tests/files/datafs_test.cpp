#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "core/services.h"
#include "files/archive.h"
#include "files/datafs.h"
#include "files/scramble.h"
#include "files_test_util.h"
#include "platform/log.h"

using files_test::read_all_blocks;
using test::file_exists;
using test::read_file;
using test::write_file;

namespace {

// Content of a data name, or "<none>" when it does not open.
std::string read_data(const char* name)
{
    data_stream* s = open_data_file(name, "rb");
    if (!s)
        return "<none>";
    std::string out = read_all_blocks(s, 100);
    close_data_file(s);
    return out;
}

void write_archive(const std::string& path, const std::vector<archive_member>& members)
{
    std::string bytes;
    ASSERT_TRUE(archive_bytes(members, &bytes));
    write_file(path, bytes);
}

std::string gz(const std::string& text)
{
    std::string out;
    gzip_bytes(text.data(), text.size(), &out);
    return out;
}

std::vector<std::string> file_list()
{
    std::vector<std::string> names;
    for (const char* const* p = build_file_index(); *p; p++)
        names.push_back(*p);
    return names;
}

bool listed(const std::string& name)
{
    for (const std::string& n : file_list())
        if (n == name)
            return true;
    return false;
}

struct datafs : ::testing::Test {
    test::data_dirs_fixture dirs;
};

}  // namespace

TEST_F(datafs, data_dirs_are_home_then_game)
{
    ASSERT_NE(data_dir(0), nullptr);
    EXPECT_EQ(std::string(data_dir(0)), dirs.home + "/");
    EXPECT_EQ(std::string(data_dir(1)), dirs.game + "/");
    EXPECT_EQ(data_dir(2), nullptr);
    EXPECT_EQ(data_dir(-1), nullptr);
}

TEST_F(datafs, dir_names_are_normalised_and_rebuilt_after_free)
{
    test::scoped_env kz("KZ_HOME", (dirs.game + "//sub\\\\x").c_str());
    free_file_index();
    EXPECT_EQ(std::string(data_dir(1)), dirs.game + "/sub/x/");

    {
        test::scoped_env xdg("XDG_DATA_HOME", "");
        test::scoped_env home("HOME", "/some/home/");
        free_file_index();
        EXPECT_EQ(std::string(data_dir(0)), "/some/home/.local/share/Kessrig/");
    }
    {
        // Without any home folder the game directory takes index 0.
        test::scoped_env xdg("XDG_DATA_HOME", nullptr);
        test::scoped_env home("HOME", nullptr);
        free_file_index();
        EXPECT_EQ(std::string(data_dir(0)), dirs.game + "/sub/x/");
        EXPECT_EQ(data_dir(1), nullptr);
    }
    {
        // Without KZ_HOME (or with it empty) the executable's folder is used.
        test::scoped_env empty("KZ_HOME", "");
        free_file_index();
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        ASSERT_GT(n, 0);
        exe[n] = 0;
        std::string folder = std::filesystem::path(exe).parent_path().string() + "/";
        EXPECT_EQ(std::string(data_dir(1)), folder);
    }
}

TEST_F(datafs, home_copy_overrides_game_copy_and_writes_go_home)
{
    write_file(dirs.home + "/config", "home");
    write_file(dirs.game + "/config", "game");
    EXPECT_EQ(read_data("@config"), "home");
    build_file_index();
    EXPECT_EQ(read_data("@config"), "home");

    data_stream* w = open_data_file("@setups/new/bike.setup", "wb");
    ASSERT_NE(w, nullptr);
    stream_puts(w, "gear 1\n");
    close_data_file(w);
    EXPECT_EQ(read_file(dirs.home + "/setups/new/bike.setup"), "gear 1\n");
    EXPECT_FALSE(file_exists(dirs.game + "/setups"));
    EXPECT_EQ(read_data("@setups/new/bike.setup"), "gear 1\n");
}

TEST_F(datafs, writes_never_go_to_an_archive_or_the_game_directory)
{
    write_archive(dirs.game + "/zzzz.saf", {{"results.txt", "archived"}});
    write_file(dirs.game + "/config", "game");
    build_file_index();
    data_stream* w = open_data_file("@results.txt", "wb");
    ASSERT_NE(w, nullptr);
    stream_puts(w, "mine");
    close_data_file(w);
    EXPECT_EQ(read_file(dirs.home + "/results.txt"), "mine");

    // A home directory that cannot be written does not send the write
    // elsewhere.
    std::filesystem::remove_all(dirs.home);
    write_file(dirs.home, "a file where the folder should be");
    EXPECT_EQ(open_data_file("@config", "wb"), nullptr);
    EXPECT_EQ(read_file(dirs.game + "/config"), "game");
}

TEST_F(datafs, suffix_variants_in_directories)
{
    write_file(dirs.game + "/tracks/hill/terrain.hf.gz", gz("heights"));
    write_file(dirs.game + "/a.scram", scramble_bytes("scrambled", 9, 1));
    std::string inner = gz("both");
    write_file(dirs.game + "/b.gz.scram", scramble_bytes(inner.data(), inner.size(), 2));
    write_archive(dirs.game + "/zzzz.saf", {{"tracks/hill/terrain.hf", "from archive"}});

    EXPECT_EQ(read_data("@tracks/hill/terrain.hf"), "heights");
    EXPECT_EQ(read_data("@a"), "scrambled");
    EXPECT_EQ(read_data("@b"), "both");
    build_file_index();
    // The directory variant is found before any archive is consulted.
    EXPECT_EQ(read_data("@tracks/hill/terrain.hf"), "heights");
    // A plain path gets the same fallbacks.
    EXPECT_EQ(read_data((dirs.game + "/b").c_str()), "both");
    // The stored bytes themselves open as they are.
    EXPECT_EQ(read_data("@a.scram"), scramble_bytes("scrambled", 9, 1));
}

TEST_F(datafs, broken_variant_fails_that_directory_only)
{
    write_file(dirs.home + "/x.gz", "not gzip at all");
    write_file(dirs.game + "/x", "plain in game dir");
    EXPECT_EQ(read_data("@x"), "plain in game dir");
    write_file(dirs.home + "/y.scram", "XXXXXXXXXXXXXXXXXXXXX");
    EXPECT_EQ(read_data("@y"), "<none>");
}

TEST_F(datafs, directories_do_not_open_as_files)
{
    std::filesystem::create_directories(dirs.game + "/tracks/hill");
    EXPECT_EQ(read_data("@tracks/hill"), "<none>");
}

TEST_F(datafs, archive_members_are_found_whatever_their_case)
{
    write_archive(dirs.game + "/zzzz.saf",
                  {{"tracks/hill/desc", "Hill track"}, {"font.png", "PNGDATA"}, {"sub//dir///x", "collapsed"}});
    EXPECT_EQ(read_data("@font.png"), "<none>");  // not before the index
    build_file_index();
    EXPECT_EQ(read_data("@font.png"), "PNGDATA");
    EXPECT_EQ(read_data("@TRACKS/Hill/DESC"), "Hill track");
    EXPECT_EQ(read_data("@sub/dir/x"), "collapsed");
    EXPECT_TRUE(listed("sub/dir/x"));

    data_stream* s = open_data_file("@tracks/hill/desc", "rb");
    ASSERT_NE(s, nullptr);
    // The member is a window: seeking is relative to it and ends with it.
    EXPECT_TRUE(stream_seek(s, 5));
    EXPECT_EQ(read_all_blocks(s, 3), "track");
    EXPECT_FALSE(stream_seek(s, 10));
    close_data_file(s);
}

TEST_F(datafs, stored_member_forms)
{
    std::string inner = gz("gz and scrambled");
    write_archive(dirs.game + "/zzzz.saf",
                  {{"one.gz", gz("gzipped member")},
                   {"two.scram", scramble_bytes("scrambled member", 16, 11)},
                   {"three.gz.scram", scramble_bytes(inner.data(), inner.size(), 12)},
                   {"four", "plain member"}});
    build_file_index();
    EXPECT_EQ(read_data("@one"), "gzipped member");
    EXPECT_EQ(read_data("@two"), "scrambled member");
    EXPECT_EQ(read_data("@three"), "gz and scrambled");
    EXPECT_EQ(read_data("@four"), "plain member");
}

TEST_F(datafs, archive_priority_follows_archive_order)
{
    write_archive(dirs.game + "/aaa.saf", {{"shared", "from aaa"}});
    write_archive(dirs.game + "/zzzz.saf", {{"shared", "from zzzz"}, {"only-z", "z"}});
    write_archive(dirs.home + "/mmm.saf", {{"shared", "from mmm"}});
    build_file_index();
    EXPECT_EQ(read_data("@shared"), "from aaa");
    EXPECT_EQ(read_data("@only-z"), "z");
    // The shared name is listed once.
    int count = 0;
    for (const std::string& n : file_list())
        count += n == "shared";
    EXPECT_EQ(count, 1);
}

TEST_F(datafs, lower_priority_wins_across_suffixes_and_plain_wins_ties)
{
    // Archives get priorities 2, 3, 4 in name order (two data directories).
    write_archive(dirs.game + "/a.saf", {{"unrelated", "u"}});
    write_archive(dirs.game + "/b.saf", {{"x.gz", gz("gzip at 3")}});
    write_archive(dirs.game + "/c.saf", {{"x", "plain at 4"}, {"y", "plain y"}, {"y.gz", gz("gzip y")}});
    build_file_index();
    EXPECT_EQ(read_data("@x"), "gzip at 3");
    EXPECT_EQ(read_data("@y"), "plain y");
}

TEST_F(datafs, loose_file_beats_archive_member)
{
    write_archive(dirs.game + "/aaa.saf", {{"font.png", "archived"}});
    write_file(dirs.game + "/FONT.PNG", "loose");
    build_file_index();
    EXPECT_EQ(read_data("@font.png"), "loose");
}

TEST_F(datafs, malformed_archives_are_dropped_whole)
{
    std::string long_line = "3 " + std::string(1021, 'n') + "\n";  // 1024 with newline
    write_file(dirs.game + "/bad1.saf", "5 good1\n" + long_line + "-\nhelloabc");
    write_file(dirs.game + "/bad2.saf", "5 good2\n5 more\nhelloworld");  // no "-"
    write_file(dirs.game + "/bad3.saf", "5 good3\nabc name\n-\nhello");
    write_file(dirs.game + "/bad4.saf", "5 good4\n-5 neg\n-\nhello");
    std::string ok_line = "3 " + std::string(1020, 'k') + "\n";  // 1023 with newline
    write_file(dirs.game + "/fine.saf", "5 good5\n" + ok_line + "-\nhelloabc");
    build_file_index();
    for (const char* name : {"@good1", "@good2", "@good3", "@good4"})
        EXPECT_EQ(read_data(name), "<none>") << name;
    EXPECT_EQ(read_data("@good5"), "hello");
    // Too long to compose with a directory, but found in the index.
    EXPECT_EQ(read_data(("@" + std::string(1020, 'k')).c_str()), "abc");
    EXPECT_TRUE(listed("good5"));
    EXPECT_FALSE(listed("good1"));
}

TEST_F(datafs, header_details)
{
    // A member without a name keeps its bytes' place; a name holding a
    // space keeps it; the separator is exactly one character.
    write_file(dirs.game + "/x.saf", "3 \n4 two words\n2\tz\n-\nAAABBBBCC");
    build_file_index();
    EXPECT_EQ(read_data("@two words"), "BBBB");
    EXPECT_EQ(read_data("@z"), "CC");
}

TEST_F(datafs, truncated_archive_member_ends_at_the_file_end)
{
    write_file(dirs.game + "/t.saf", "5 first\n100 cut\n-\nhelloonly-part");
    build_file_index();
    EXPECT_EQ(read_data("@first"), "hello");
    EXPECT_EQ(read_data("@cut"), "only-part");
}

TEST_F(datafs, names_differing_in_case_give_one_list_entry)
{
    write_file(dirs.home + "/Readme.txt", "home");
    write_file(dirs.game + "/README.TXT", "game");
    write_file(dirs.game + "/tracks/Hill/desc", "d");
    write_file(dirs.game + "/tracks/hill/DESC", "d2");
    std::vector<std::string> names = file_list();
    int readme = 0, desc = 0;
    for (const std::string& n : names) {
        readme += strcasecmp(n.c_str(), "readme.txt") == 0;
        desc += strcasecmp(n.c_str(), "tracks/hill/desc") == 0;
    }
    EXPECT_EQ(readme, 1);
    EXPECT_EQ(desc, 1);
    EXPECT_TRUE(listed("Readme.txt"));  // the best-priority spelling
    EXPECT_EQ(build_file_index(), build_file_index());
}

TEST_F(datafs, describe_index_entry_truncates_and_checks_range)
{
    write_file(dirs.game + "/abc", "x");
    build_file_index();
    char buf[256];
    int found = -1;
    for (int i = 0; describe_index_entry(i, buf, sizeof buf); i++)
        if (strncmp(buf, "abc -> ", 7) == 0)
            found = i;
    ASSERT_GE(found, 0);
    ASSERT_TRUE(describe_index_entry(found, buf, sizeof buf));
    EXPECT_EQ(std::string(buf), "abc -> " + dirs.game + "/abc");
    char small[6];
    ASSERT_TRUE(describe_index_entry(found, small, sizeof small));
    EXPECT_STREQ(small, "abc -");
    EXPECT_FALSE(describe_index_entry(-1, buf, sizeof buf));
    EXPECT_FALSE(describe_index_entry(100000, buf, sizeof buf));
}

TEST_F(datafs, rename_replaces_the_destination_in_home)
{
    write_file(dirs.home + "/demos/new.kzdemo", "new");
    write_file(dirs.home + "/demos/old.kzdemo", "old");
    EXPECT_TRUE(rename_data_file("@demos/new.kzdemo", "@demos/old.kzdemo"));
    EXPECT_EQ(read_file(dirs.home + "/demos/old.kzdemo"), "new");
    EXPECT_FALSE(file_exists(dirs.home + "/demos/new.kzdemo"));
    EXPECT_FALSE(rename_data_file("@demos/missing", "@demos/x"));
    // Plain paths are taken as they are.
    std::string plain = dirs.root / "plain.txt";
    write_file(plain, "p");
    EXPECT_TRUE(rename_data_file(plain.c_str(), "@from-plain"));
    EXPECT_EQ(read_file(dirs.home + "/from-plain"), "p");
    // A name that would have to be cut is refused rather than cut.
    std::string long_name = "@" + std::string(600, 'q');
    EXPECT_FALSE(rename_data_file("@from-plain", long_name.c_str()));
    EXPECT_TRUE(file_exists(dirs.home + "/from-plain"));
}

TEST_F(datafs, loading_screen_is_pumped_per_directory_and_archive)
{
    static int pumps;
    pumps = 0;
    g_status_service.pump = [] { pumps++; };
    write_file(dirs.game + "/a/b/c", "x");
    write_archive(dirs.game + "/one.saf", {{"m", "1"}});
    write_archive(dirs.home + "/two.saf", {{"n", "2"}});
    build_file_index();
    g_status_service.pump = nullptr;
    // home, game, game/a, game/a/b, and the two archives.
    EXPECT_EQ(pumps, 6);
}

TEST_F(datafs, game_data_check)
{
    static std::string title, text;
    title = text = "";
    g_platform_hooks.show_message_box = [](const char* t, const char* x) {
        title = t;
        text = x;
        return true;
    };
    std::filesystem::remove_all(dirs.home);
    EXPECT_FALSE(check_game_data());
    EXPECT_EQ(title, "Problem starting Kessrig");
    EXPECT_EQ(text, "Can't find game data\n");
    EXPECT_TRUE(std::filesystem::is_directory(dirs.home));

    title = "";
    write_archive(dirs.game + "/zzzz.saf", {{"x", "y"}});
    EXPECT_TRUE(check_game_data());
    EXPECT_EQ(title, "");
    g_platform_hooks.show_message_box = nullptr;
}

TEST_F(datafs, game_data_check_points_the_log_home)
{
    test::scoped_env logfile("VORN_LOGFILE", nullptr);
    log_reset_for_tests();
    write_archive(dirs.game + "/zzzz.saf", {{"x", "y"}});
    EXPECT_TRUE(check_game_data());
    log_printf("after the check\n");
    log_close();
    std::string log = read_file(dirs.home + "/lastlog.txt");
    EXPECT_NE(log.find("after the check"), std::string::npos);
    log_reset_for_tests();
}

TEST_F(datafs, open_home_folder_starts_xdg_open_with_the_folder)
{
    test::temp_dir bin;
    std::string out = bin / "opened";
    write_file(bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + out + ".tmp' && mv '" + out + ".tmp' '" + out +
                                     "'\n");
    std::filesystem::permissions(bin / "xdg-open", std::filesystem::perms::owner_all);
    test::scoped_env path("PATH", (bin.path + ":/usr/bin:/bin").c_str());
    std::filesystem::remove_all(dirs.home);
    open_home_folder();
    EXPECT_TRUE(std::filesystem::is_directory(dirs.home));
    for (int i = 0; i < 500 && !file_exists(out); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(read_file(out), dirs.home);
}

TEST_F(datafs, links_back_up_are_not_followed_forever)
{
    write_file(dirs.game + "/tracks/hill/desc", "d");
    std::filesystem::create_directory_symlink("..", dirs.game + "/tracks/hill/up");
    std::filesystem::create_directory_symlink(dirs.game + "/tracks", dirs.game + "/tracks/hill/again");
    int descs = 0;
    for (const std::string& n : file_list())
        descs += n.size() >= 4 && n.compare(n.size() - 4, 4, "desc") == 0;
    // Both links lead back to folders being listed, so they add nothing.
    EXPECT_EQ(descs, 1);
    EXPECT_EQ(read_data("@tracks/hill/desc"), "d");
}

// ---- replacing files whole ------------------------------------------------------

namespace {

bool write_text(data_stream* s, void* context)
{
    return stream_puts(s, static_cast<const char*>(context)) >= 0;
}

bool fail_halfway(data_stream* s, void*)
{
    stream_puts(s, "half");
    return false;
}

// Runs attempt in a child without root's power over permissions (as an
// unprivileged user when the test runs as root); returns its exit status.
int run_unprivileged(bool (*attempt)())
{
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        _exit(attempt() ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(datafs, a_failed_replacement_is_reported_and_leaves_the_old_file_whole)
{
    const std::string old_bytes(5000, 'o');
    write_file(dirs.home + "/keep/file", old_bytes);
    const std::string big(20000, 'n');

    // A disk that fills up part way through the new file.
    {
        test::full_disk full(8192);
        EXPECT_FALSE(replace_data_file_bytes("@keep/file", big.data(), big.size(), true));
        EXPECT_FALSE(replace_data_file("@keep/file", write_text, (void*)big.c_str(), false));
    }
    EXPECT_EQ(read_file(dirs.home + "/keep/file"), old_bytes);
    // A writer that reports a failure of its own.
    EXPECT_FALSE(replace_data_file("@keep/file", fail_halfway, nullptr));
    EXPECT_EQ(read_file(dirs.home + "/keep/file"), old_bytes);
    // A name that is a folder cannot be replaced by a file.
    write_file(dirs.home + "/keep/folder/inside", "x");
    EXPECT_FALSE(replace_data_file_bytes("@keep/folder", "y", 1, false));
    EXPECT_EQ(read_file(dirs.home + "/keep/folder/inside"), "x");
    // No temporary file is left behind by any of them.
    EXPECT_EQ(test::folder_names(dirs.home + "/keep"), (std::vector<std::string>{"file", "folder"}));

    // With room again the same write goes through; the file keeps the
    // permissions it had.
    ASSERT_EQ(chmod((dirs.home + "/keep/file").c_str(), 0600), 0);
    EXPECT_TRUE(replace_data_file_bytes("@keep/file", big.data(), big.size(), true));
    EXPECT_EQ(read_file(dirs.home + "/keep/file"), big);
    struct stat st;
    ASSERT_EQ(stat((dirs.home + "/keep/file").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test::folder_names(dirs.home + "/keep"), (std::vector<std::string>{"file", "folder"}));
}

TEST_F(datafs, a_folder_that_cannot_be_written_keeps_its_file_and_the_failure_is_reported)
{
    write_file(dirs.home + "/locked/file", "old");
    // Reachable by the unprivileged child, but not writable.
    ASSERT_EQ(chmod(dirs.root.path.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dirs.xdg.c_str(), 0755), 0);
    ASSERT_EQ(chmod(dirs.home.c_str(), 0755), 0);
    ASSERT_EQ(chmod((dirs.home + "/locked").c_str(), 0555), 0);
    ASSERT_EQ(chmod((dirs.home + "/locked/file").c_str(), 0666), 0);
    ASSERT_NE(data_dir(0), nullptr);  // the directories are known before the child starts
    EXPECT_EQ(run_unprivileged([] { return replace_data_file_bytes("@locked/file", "new", 3, true); }), 0);
    EXPECT_EQ(run_unprivileged([] {
                  replacing_file r;
                  return begin_replacing("@locked/file", &r);
              }),
              0);
    chmod((dirs.home + "/locked").c_str(), 0755);
    EXPECT_EQ(read_file(dirs.home + "/locked/file"), "old");
    EXPECT_EQ(test::folder_names(dirs.home + "/locked"), (std::vector<std::string>{"file"}));
}

TEST_F(datafs, writers_on_several_threads_never_share_a_temporary_file)
{
    // Each thread writes its own whole text over the same name many times:
    // the file always holds one of them whole.
    std::vector<std::string> texts;
    for (int k = 0; k < 4; k++)
        texts.push_back(std::string(3000 + 100 * k, (char)('a' + k)));
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; k++)
        threads.emplace_back([&texts, k] {
            for (int i = 0; i < 40; i++)
                EXPECT_TRUE(replace_data_file("@shared", write_text, (void*)texts[k].c_str(), false));
        });
    for (std::thread& t : threads)
        t.join();
    const std::string now = read_file(dirs.home + "/shared");
    EXPECT_NE(std::find(texts.begin(), texts.end(), now), texts.end());
    EXPECT_EQ(test::folder_names(dirs.home), (std::vector<std::string>{"shared"}));
}

// ---- names from outside ---------------------------------------------------------

TEST_F(datafs, hostile_names_are_refused_with_a_reason_and_nothing_is_written_outside_home)
{
    struct {
        const char* name;
        const char* problem;
    } bad[] = {
        {"", "is empty"},           {"..", "holds '..'"},
        {"../x", "holds '..'"},     {"a/b", "holds a '/' or '\\'"},
        {"a\\b", "holds a '/' or '\\'"}, {"/etc/passwd", "holds a '/' or '\\'"},
        {"a\nb", "holds a control character"}, {"tab\there", "holds a control character"},
        {"del\x7f", "holds a control character"},
    };
    for (const auto& b : bad) {
        ASSERT_NE(file_name_problem(b.name), nullptr) << b.name;
        EXPECT_STREQ(file_name_problem(b.name), b.problem) << b.name;
        EXPECT_FALSE(safe_file_name(b.name));
    }
    EXPECT_STREQ(file_name_problem(std::string(SAFE_FILE_NAME_MAX + 1, 'x').c_str()), "is too long");
    EXPECT_EQ(file_name_problem(nullptr), std::string("is empty"));
    for (const char* good : {"race1.kzdemo", "my setup", "a.b.c", "x"})
        EXPECT_TRUE(safe_file_name(good)) << good;
    EXPECT_TRUE(safe_file_name(std::string(SAFE_FILE_NAME_MAX, 'x').c_str()));

    // Data names: paths below the home directory only.
    for (const char* name : {"@../escape", "@a/../../escape", "@/tmp/escape", "@..", "@a/..", "@", "@a\\..\\b",
                             "@bad\x01name"})
        EXPECT_NE(data_name_problem(name), nullptr) << name;
    for (const char* name : {"@demos/race1.kzdemo", "@a..b", "@..a/b", "@a//b", "@tracks/x/lines_1"})
        EXPECT_EQ(data_name_problem(name), nullptr) << name;

    // Every way of writing a data name refuses them.
    const std::string escape = dirs.xdg + "/escape";
    EXPECT_EQ(open_data_file("@../escape", "wb"), nullptr);
    EXPECT_EQ(open_data_file("@sub/../../escape", "ab"), nullptr);
    EXPECT_FALSE(replace_data_file_bytes("@../escape", "x", 1, false));
    replacing_file r;
    EXPECT_FALSE(begin_replacing("@../../escape", &r));
    EXPECT_EQ(r.stream, nullptr);
    write_file(dirs.home + "/inside", "in");
    EXPECT_FALSE(rename_data_file("@inside", "@../escape"));
    EXPECT_TRUE(file_exists(dirs.home + "/inside"));
    EXPECT_FALSE(file_exists(escape));
    EXPECT_FALSE(file_exists(dirs.root.path + "/escape"));
}
