#include "core/command_line.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/settings.h"
#include "net/net.h"

namespace {

struct parsed {
    command_options options;
    bool ok = false;
    std::string err;
};

parsed parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "kessrig");
    parsed p;
    g_settings = game_settings();
    testing::internal::CaptureStderr();
    p.ok = parse_command_line((int)args.size(), args.data(), &p.options);
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

}  // namespace

TEST(CommandLine, ValueAsNextWordOrAfterEquals)
{
    parse({"--width", "1024"});
    int a = g_settings.xres;
    parse({"--width=1024"});
    EXPECT_EQ(a, 1024);
    EXPECT_EQ(g_settings.xres, 1024);
    // Unreadable widths leave the previous value; no error.
    parsed p = parse({"--height", "tall"});
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(g_settings.yres, 480);
}

TEST(CommandLine, DoubleDashEndsOptions)
{
    parsed p = parse({"--", "-odd.kzdemo"});
    ASSERT_TRUE(p.ok);
    EXPECT_STREQ(p.options.file, "-odd.kzdemo");

    p = parse({"-odd.kzdemo"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.err, "bad option '-odd.kzdemo'\n");

    p = parse({"--nosound", "--"});
    EXPECT_TRUE(p.ok);
    EXPECT_TRUE(p.options.no_sound);
}

TEST(CommandLine, ClampsAndConversions)
{
    EXPECT_EQ(parse({"--erode", "150"}).options.erode_amount, 102400);
    EXPECT_EQ(parse({"--erode", "-3"}).options.erode_amount, 0);
    EXPECT_DOUBLE_EQ(parse({"--fake-lag", "2500"}).options.fake_lag, 1.0);
    EXPECT_NEAR(parse({"--fake-lag", "40"}).options.fake_lag, 0.04, 1e-9);
    EXPECT_EQ(parse({"--texture-detail", "9"}).options.texture_level, 4);
    EXPECT_EQ(parse({"--texture-detail", "-1"}).options.texture_level, 0);
    EXPECT_DOUBLE_EQ(parse({"--lock-fps=30"}).options.lock_fps, 30.0);
    parsed p = parse({"--max-detail-distance", "40"});
    EXPECT_DOUBLE_EQ(p.options.outer_detail_distance, 45.0);
    p = parse({"--chase-center", "1,2,3"});
    EXPECT_FLOAT_EQ(p.options.chase_center.z, 3.0f);
}

TEST(CommandLine, BadArgumentsEndTheRun)
{
    parsed p = parse({"--lock-fps", "fast"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.err, "Bad arg for --lock-fps\n");
    // An option with a value standing last has no value.
    p = parse({"--erode"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.err, "Bad arg for --erode\n");
    p = parse({"--chase-center", "1,2"});
    EXPECT_FALSE(p.ok);
    p = parse({"a.kzdemo", "b.kzdemo"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.err, "Too many files!\n");
    p = parse({"--bikes", "40"});
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.err, "--bikes doesn't do anything anymore\n");
}

TEST(CommandLine, ConnectStripsLinkPrefixAndKeepsHistoryUnique)
{
    parsed p = parse({"--connect", "kessrig:race.example.org", "--track", "stadium"});
    ASSERT_TRUE(p.ok);
    EXPECT_STREQ(p.options.connect, "race.example.org");
    EXPECT_STREQ(g_settings.server_name, "race.example.org");
    EXPECT_STREQ(g_settings.server_history[0], "race.example.org");
    EXPECT_STREQ(p.options.track, "");  // ignored with --connect

    remember_server("race.example.org");
    EXPECT_STREQ(g_settings.server_history[1], "");
    remember_server("other.example.org");
    EXPECT_STREQ(g_settings.server_history[0], "other.example.org");
    EXPECT_STREQ(g_settings.server_history[1], "race.example.org");
}

TEST(CommandLine, ServerLinkJoinsTheServerItNames)
{
    // What the desktop passes: the link alone, in either form, with or
    // without a port and a trailing "/".
    const struct {
        const char* link;
        const char* server;
    } cases[] = {
        {"kessrig://127.0.0.1:4000", "127.0.0.1:4000"},
        {"kessrig://race.example.org:19801/", "race.example.org:19801"},
        {"kessrig:race.example.org:65535", "race.example.org:65535"},
        {"kessrig:race.example.org/", "race.example.org"},
        {"KESSRIG://Race-1.example_net", "Race-1.example_net"},
        {"kessrig://127.0.0.1:", "127.0.0.1"},
        {"kessrig://10.0.0.2:007", "10.0.0.2:7"},
    };
    for (const auto& c : cases) {
        parsed p = parse({"--nosound", c.link});
        ASSERT_TRUE(p.ok) << c.link << ": " << p.err;
        EXPECT_STREQ(p.options.connect, c.server) << c.link;
        EXPECT_STREQ(g_settings.server_name, c.server) << c.link;
        EXPECT_STREQ(g_settings.server_history[0], c.server) << c.link;
        EXPECT_STREQ(p.options.file, "") << c.link;  // not taken for a demo
        EXPECT_TRUE(p.options.no_sound);
        EXPECT_EQ(p.err, "");
    }
    // "--connect" takes the same links.
    parsed p = parse({"--connect", "kessrig://race.example.org:4000/", "--track", "stadium"});
    ASSERT_TRUE(p.ok);
    EXPECT_STREQ(p.options.connect, "race.example.org:4000");
    EXPECT_STREQ(p.options.track, "");

    // The server names resolve to the port the link named, or the default.
    net_address a;
    p = parse({"kessrig://127.0.0.1:4000/"});
    ASSERT_TRUE(net_resolve(&a, p.options.connect, NET_DEFAULT_PORT));
    EXPECT_EQ(ntohs(a.port), 4000);
    EXPECT_EQ(a.ip, htonl(0x7f000001));
    p = parse({"kessrig://127.0.0.1/"});
    ASSERT_TRUE(net_resolve(&a, p.options.connect, NET_DEFAULT_PORT));
    EXPECT_EQ(ntohs(a.port), NET_DEFAULT_PORT);

    // After "--" every word is a file, even one that looks like a link.
    p = parse({"--", "kessrig://127.0.0.1"});
    ASSERT_TRUE(p.ok);
    EXPECT_STREQ(p.options.file, "kessrig://127.0.0.1");
    EXPECT_STREQ(p.options.connect, "");
}

TEST(CommandLine, BadServerLinkEndsTheRunAndJoinsNothing)
{
    const std::string long_host = "kessrig://" + std::string(200, 'a') + ".org";
    const struct {
        std::string link;
        const char* why;
    } cases[] = {
        {"kessrig:", "it names no server"},
        {"kessrig://", "it names no server"},
        {"kessrig://:4000", "it names no server"},
        {"kessrig:///", "it names no server"},
        {"kessrig://host:0", "the port is not a number from 1 to 65535"},
        {"kessrig://host:65536", "the port is not a number from 1 to 65535"},
        {"kessrig://host:99999999999999999999", "the port is not a number from 1 to 65535"},
        {"kessrig://host:12ab", "the port is not a number from 1 to 65535"},
        {"kessrig://host:-1", "the port is not a number from 1 to 65535"},
        {"kessrig://host:1:2", "the port is not a number from 1 to 65535"},
        {"kessrig://host:4000/race/2", "a link names a server, not a path below it"},
        {"kessrig://host//", "a link names a server, not a path below it"},
        {"kessrig://player@host", "the server name has a character no server name has"},
        {"kessrig://ho%73t", "the server name has a character no server name has"},
        {"kessrig://[::1]:4000", "the server name has a character no server name has"},
        {"kessrig://host name", "the server name has a character no server name has"},
        {long_host, "the server name is too long"},
    };
    for (const auto& c : cases) {
        g_settings = game_settings();
        remember_server("earlier.example.org");
        command_options o;
        const char* args[] = {"kessrig", c.link.c_str()};
        testing::internal::CaptureStderr();
        const bool ok = parse_command_line(2, args, &o);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok) << c.link;
        EXPECT_NE(err.find("Can't join a race from the link \"" + c.link.substr(0, 200) + "\": " + c.why + "."),
                  std::string::npos)
            << c.link << ": " << err;
        EXPECT_STREQ(o.connect, "") << c.link;
        EXPECT_STREQ(o.file, "") << c.link;
        EXPECT_STREQ(g_settings.server_name, "") << c.link;
        EXPECT_STREQ(g_settings.server_history[0], "earlier.example.org") << c.link;
        EXPECT_STREQ(g_settings.server_history[1], "") << c.link;
        // The same through "--connect".
        parsed p = parse({"--connect", c.link.c_str()});
        EXPECT_FALSE(p.ok) << c.link;
        EXPECT_STREQ(p.options.connect, "") << c.link;
    }
    char server[8];
    EXPECT_STREQ(parse_server_link("kessrig://host:4000", server, sizeof server), "the server name is too long");
    EXPECT_STREQ(server, "");
    EXPECT_STREQ(parse_server_link("http://host:4000", server, sizeof server),
                 "it does not start with \"kessrig:\"");
}

TEST(CommandLine, RenderingParametersFollowSettingsUnlessOverridden)
{
    game_settings s;
    command_options o;
    render_params r = derive_render_params(s, o);
    EXPECT_DOUBLE_EQ(r.terrain_error_scale, 0.125 / 70);
    EXPECT_EQ(r.ground_texture_level, 1);
    EXPECT_EQ(r.ground_texture_size, 64);
    EXPECT_DOUBLE_EQ(r.lod_scale, 1.0);  // model detail 50: (100 - 50) x 0.02
    EXPECT_DOUBLE_EQ(r.lod_bias, 0.0);
    EXPECT_EQ(r.texture_level, 1);
    // Low model detail cubes the scale; a ground detail of 0 keeps a floor.
    s.model_detail = 0;
    s.ground_detail = 0;
    r = derive_render_params(s, o);
    EXPECT_DOUBLE_EQ(r.lod_scale, 8.0);
    EXPECT_DOUBLE_EQ(r.lod_bias, 50.0);
    EXPECT_DOUBLE_EQ(r.terrain_error_scale, 0.125);
    // The command line wins.
    parsed p = parse({"--detail", "0.5", "--texture-detail", "3", "--lod-bias", "-2"});
    ASSERT_TRUE(p.ok);
    r = derive_render_params(s, p.options);
    EXPECT_DOUBLE_EQ(r.terrain_error_scale, 0.5);
    EXPECT_EQ(r.texture_level, 3);
    EXPECT_DOUBLE_EQ(r.lod_bias, -2.0);
    // The error scale must be positive and finite.
    for (const char* bad : {"0", "-1", "inf", "nan"}) {
        p = parse({"--detail", bad});
        EXPECT_FALSE(p.ok) << bad;
        EXPECT_EQ(p.err, "Bad arg for --detail\n");
    }
}

TEST(CommandLine, HelpPrintsTheOptionsAndStops)
{
    g_settings = game_settings();
    command_options o;
    const char* args[] = {"kessrig", "--help", "--width", "800"};
    testing::internal::CaptureStdout();
    const bool ok = parse_command_line(4, args, &o);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(o.help);
    EXPECT_NE(out.find("--connect"), std::string::npos);
    EXPECT_NE(out.find("--print-orientation"), std::string::npos);
    EXPECT_EQ(g_settings.xres, 640);  // parsing stopped there
    // Other unknown words with a dash stay bad options.
    parsed p = parse({"--helpme"});
    EXPECT_FALSE(p.ok);
    EXPECT_EQ(p.err, "bad option '--helpme'\n");
    // The read-outs become settings the configuration keeps.
    parse({"--draw-fps", "1", "--draw-ping=0"});
    EXPECT_EQ(g_settings.draw_fps, 1);
    EXPECT_EQ(g_settings.draw_ping, 0);
}
