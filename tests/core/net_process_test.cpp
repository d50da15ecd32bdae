// The real game joining a race server: started with "--connect
// kessrig:127.0.0.1:PORT" against a server played by this test on a UDP
// socket of its own. The server accepts, names the default track with its
// digest and one other rider, starts a race without a place for the player
// (a warm-up) and keeps the clock; then it restarts the race with the
// player in slot 0. The game must walk through the connection's states,
// show the warm-up notice in its recorded video, send its own state on
// every fourth tick while racing, send the chat line the player types as a
// reliable message, and say goodbye when it is ended.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "game_world_util.h"
#include "net/net.h"
#include "net/protocol.h"
#include "platform/log.h"
#include "render/picture.h"

namespace {

const int W = 640, H = 480;
const char* const chat_text = "hello from the gate";

double now_seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The chat line typed again and again, far enough apart for the game's
// two-second rule: the early ones come before the connection and are
// answered locally; one of the later ones reaches the server.
std::string chat_script()
{
    std::string s;
    for (int frame = 600; frame <= 12000; frame += 600) {
        const std::string f = std::to_string(frame);
        s += f + " t 1\n" + f + " t 0\n";
        for (const char* c = chat_text; *c; c++) {
            const std::string g = std::to_string(frame + 2);
            // Typed characters by their codes; a space is code 32.
            s += g + " #" + std::to_string((int)(unsigned char)*c) + " 1\n";
        }
        s += std::to_string(frame + 4) + " Enter 1\n" + std::to_string(frame + 5) + " Enter 0\n";
    }
    return s;
}

// The newest whole frame of the game's "--record-video" stream.
struct video_reader {
    int fd = -1;
    std::mutex lock;
    std::vector<unsigned char> latest;
    std::atomic<long> frames{0};
    std::atomic<long> other_frames{0};  // pictures not of the asked size
    std::string other_size;             // the last such picture's size; read once the reader has stopped
    std::atomic<bool> stop{false};
    std::thread thread;

    // Reads n bytes, waiting for them a tenth of a second at a time so that
    // stop is seen even when the writer hangs.
    bool read_all(void* out, size_t n)
    {
        size_t got = 0;
        while (got < n) {
            pollfd p = {fd, POLLIN, 0};
            if (stop)
                return false;
            if (poll(&p, 1, 100) <= 0)
                continue;
            const ssize_t r = read(fd, (char*)out + got, n - got);
            if (r <= 0)
                return false;
            got += (size_t)r;
        }
        return true;
    }

    void run()
    {
        std::string header;
        std::vector<unsigned char> rgb((size_t)W * H * 3);
        for (;;) {
            // "P6\n%d %d\n255\n": three lines.
            header.clear();
            int newlines = 0;
            char c;
            while (newlines < 3) {
                if (!read_all(&c, 1))
                    return;
                header.push_back(c);
                newlines += c == '\n';
            }
            int w = 0, h = 0;
            if (sscanf(header.c_str(), "P6\n%d %d\n255\n", &w, &h) != 2 || w <= 0 || h <= 0 || w > 4096 ||
                h > 4096)
                return;
            if (w != W || h != H) {
                // A picture of another size is read past, not left in the
                // pipe: a game blocked writing it would look hung, where the
                // test should say what it got.
                other_size = std::to_string(w) + "x" + std::to_string(h);
                std::vector<unsigned char> skip((size_t)w * h * 3);
                if (!read_all(skip.data(), skip.size()))
                    return;
                other_frames++;
                continue;
            }
            if (!read_all(rgb.data(), rgb.size()))
                return;
            std::lock_guard<std::mutex> g(lock);
            latest = rgb;
            frames++;
        }
    }
    std::vector<unsigned char> take()
    {
        std::lock_guard<std::mutex> g(lock);
        return latest;
    }
};

// White text over its shadow (a darker copy a pixel or two down and to the
// right) in the band of rows where the warm-up notice stands, across the
// middle of the picture: sky and clouds seldom pair the two.
int notice_pixels(const std::vector<unsigned char>& rgb)
{
    auto light = [&](int x, int y) {
        const unsigned char* p = &rgb[((size_t)y * W + x) * 3];
        return (p[0] + p[1] + p[2]) / 3;
    };
    auto white = [&](int x, int y) {
        const unsigned char* p = &rgb[((size_t)y * W + x) * 3];
        return p[0] > 215 && p[1] > 215 && p[2] > 215;
    };
    static const int offsets[][2] = {{2, 2}, {2, 1}, {1, 1}, {2, 0}};
    int count = 0;
    const int row = (int)(H * 0.28f);
    for (int y = row - 24; y < row + 8; y++)
        for (int x = W / 2 - 120; x < W / 2 + 120; x++) {
            if (!white(x, y))
                continue;
            for (const auto& o : offsets)
                if (light(x + o[0], y + o[1]) < light(x, y) - 60) {
                    count++;
                    break;
                }
        }
    return count;
}

// The game itself, started by xvfb-run as its child: signals go to it, not
// to the wrapper (which would leave the game no time to say goodbye).
pid_t game_process(pid_t wrapper)
{
    DIR* proc = opendir("/proc");
    if (!proc)
        return -1;
    pid_t found = -1;
    while (dirent* e = readdir(proc)) {
        const pid_t p = (pid_t)atoi(e->d_name);
        if (p <= 0)
            continue;
        const std::string stat = test::read_file("/proc/" + std::to_string(p) + "/stat");
        // "pid (comm) state ppid ..."
        const size_t close_paren = stat.rfind(')');
        if (close_paren == std::string::npos || stat.find("(kessrig)") == std::string::npos)
            continue;
        char state = 0;
        int ppid = 0;
        if (sscanf(stat.c_str() + close_paren + 1, " %c %d", &state, &ppid) == 2 && ppid == wrapper)
            found = p;
    }
    closedir(proc);
    return found;
}

// The server's side of the conversation.
struct fake_server {
    net_socket s = -1;
    net_address client;
    bool have_client = false;
    uint32_t token = 0x5eed1234;
    uint8_t digest[NET_TRACK_HASH_SIZE] = {};
    const char* track = "rabbithill";
    uint32_t race_id = 0;
    int race_slot = NET_SLOTS;  // the player's place in the current race
    double clock_zero = 0;      // when the server's tick was 1
    bool clock_running = false;
    double next_clock = 0;
    int32_t echo = 0;           // the newest own-state tick, echoed for the ping
    // What arrived.
    std::vector<int> types;     // every client datagram type in order
    std::vector<std::pair<double, int32_t>> own_states;  // arrival time and tick, current race only
    std::vector<std::string> chats;
    int disconnects = 0;
    bool ready_seen = false;

    void send(const uint8_t* data, int length) { net_send(s, data, length, client); }

    int32_t server_tick(double now) const { return 1 + (int32_t)((now - clock_zero) * 128); }

    void start_race(uint32_t id, int slot_for_player)
    {
        race_id = id;
        race_slot = slot_for_player;
        clock_running = false;
        ready_seen = false;
        own_states.clear();
    }

    void track_info()
    {
        net_track_info t;
        t.race_id = race_id;
        t.race_ticks = 0;
        t.laps = 2;
        t.start_tick = 30 * 128;
        memcpy(t.hash, digest, sizeof t.hash);
        snprintf(t.track, sizeof t.track, "%s", track);
        uint8_t out[NET_DATAGRAM_MAX];
        send(out, net_write_track_info(out, t));
    }

    void handle(const uint8_t* data, int length, double now)
    {
        if (length < 1)
            return;
        const int type = data[0];
        types.push_back(type);
        uint8_t out[NET_DATAGRAM_MAX];
        switch (type) {
        case net_c_contact: {
            net_accept a;
            a.slot = 0;
            a.token = token;
            send(out, net_write_accept(out, a));
            break;
        }
        case net_c_client_info:
            track_info();
            break;
        case net_c_restart_ack:
            track_info();
            break;
        case net_c_track_ack: {
            net_rider_info r;
            r.race_id = race_id;
            r.slot = 5;
            snprintf(r.text, sizeof r.text, "cr250|||||\n42\nOther Rider");
            send(out, net_write_rider_info(out, net_s_rider_info, r));
            break;
        }
        case net_c_rider_ack: {
            net_rider_info r;
            r.race_id = race_id;
            r.slot = race_slot;
            snprintf(r.text, sizeof r.text, "yz250f(2017)|||||\n7\nTest Rider");
            send(out, net_write_rider_info(out, net_s_start, r));
            break;
        }
        case net_c_ready:
            ready_seen = true;
            if (!clock_running) {
                clock_running = true;
                clock_zero = now;
                next_clock = now;
            }
            break;
        case net_c_own_state: {
            net_own_state o;
            if (net_read_own_state(data, length, &o) && o.race_id == race_id) {
                own_states.push_back({now, o.tick});
                echo = o.tick;
            }
            break;
        }
        case net_c_reliable: {
            net_reliable r;
            if (!net_read_client_reliable(data, length, &r))
                break;
            send(out, net_write_server_ack(out, r.sequence));
            if (r.type == net_r_chat)
                chats.push_back(std::string((const char*)r.body, (size_t)r.body_length));
            break;
        }
        case net_c_disconnect:
            disconnects++;
            send(out, net_write_server_type(out, net_s_disconnected));
            break;
        default: break;
        }
    }

    // Takes every waiting datagram and keeps the clock going, 32 times a
    // second, for up to seconds.
    void pump(double seconds)
    {
        const double end = now_seconds() + seconds;
        uint8_t in[2048];
        for (;;) {
            const double now = now_seconds();
            net_address from;
            const int n = net_receive(s, in, sizeof in, &from);
            if (n > 0) {
                client = from;
                have_client = true;
                handle(in, n, now);
                continue;
            }
            if (clock_running && have_client && now >= next_clock) {
                net_clock c;
                c.race_id = race_id;
                c.server_tick = server_tick(now);
                c.echo = echo;
                uint8_t out[NET_DATAGRAM_MAX];
                send(out, net_write_clock(out, net_s_clock, c));
                next_clock = now + 1.0 / 32;
            }
            if (now >= end)
                return;
            usleep(2000);
        }
    }

    template <class F>
    bool pump_until(double seconds, F done)
    {
        const double end = now_seconds() + seconds;
        while (!done()) {
            if (now_seconds() >= end)
                return false;
            pump(0.05);
        }
        return true;
    }
};

}  // namespace

class net_process : public game_world_test {};

TEST_F(net_process, the_game_joins_rides_the_warmup_and_the_race_chats_and_leaves)
{
    if (!getenv("DISPLAY") || system("command -v xvfb-run >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs a display and xvfb-run";
    fake_server server;
    {
        track t;
        ASSERT_TRUE(track_load(&t, "rabbithill", track_load_flags()));
        memcpy(server.digest, t.digest, sizeof server.digest);
        track_unload(&t);
    }
    server.s = net_open_bound_socket(0);
    ASSERT_GE(server.s, 0);
    const int port = net_local_port(server.s);
    ASSERT_GT(port, 0);
    server.start_race(1, NET_SLOTS);

    test::write_file(dirs.root / "script.txt", chat_script());
    const std::string log = dirs.home + "/lastlog.txt";
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        const int err = open((dirs.root / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        setenv("KZ_INPUT_SCRIPT", (dirs.root / "script.txt").c_str(), 1);
        unsetenv("VORN_LOGFILE");
        unsetenv("VORN_OPTIONS");
        const std::string exe = test::build_data_dir() + "/kessrig";
        const std::string connect = "kessrig:127.0.0.1:" + std::to_string(port);
        execlp("xvfb-run", "xvfb-run", "-a", "-s", "-screen 0 640x480x24", exe.c_str(), "--nosound",
               "--record-video", "--width", "640", "--height", "480", "--connect", connect.c_str(), (char*)nullptr);
        _exit(127);
    }
    close(out[1]);
    video_reader video;
    video.fd = out[0];
    video.thread = std::thread([&video] { video.run(); });
    // Ends the game the way a player's window manager would, on every way
    // out of the test.
    struct game_run {
        pid_t wrapper;
        video_reader* video;
        int code = -1;
        bool done = false;
        int finish()
        {
            if (done)
                return code;
            done = true;
            const pid_t game = game_process(wrapper);
            EXPECT_GT(game, 0) << "the game is not running";
            kill(game > 0 ? game : wrapper, SIGTERM);
            code = test::wait_exit(wrapper, 60);
            if (code < 0 && game > 0)
                kill(game, SIGKILL);
            video->stop = true;
            video->thread.join();
            close(video->fd);
            return code;
        }
        ~game_run() { finish(); }
    } run{pid, &video};
    auto finish = [&]() { return run.finish(); };

    // The warm-up: the race is running on the server's clock, and the
    // player rides without a place in it.
    const bool warmup = server.pump_until(90, [&] {
        return server.clock_running && test::read_file(log).find("2 laps") != std::string::npos;
    });
    if (!warmup) {
        finish();
        FAIL() << video.frames << " pictures of " << W << "x" << H << ", " << video.other_frames << " of "
               << (video.other_size.empty() ? std::string("another size") : video.other_size) << "\n"
               << test::read_file(log) << test::read_file(dirs.root / "stderr.txt");
    }
    const long frames_then = video.frames;
    ASSERT_TRUE(server.pump_until(30, [&] { return video.frames > frames_then + 10; }));
    server.pump(1.0);
    const std::vector<unsigned char> warm = video.take();
    // Without a place in the race nothing of the player's own goes out.
    EXPECT_TRUE(server.own_states.empty());

    // The restart gives the player slot 0: a race.
    {
        server.start_race(2, 0);
        uint8_t d[16];
        server.send(d, net_write_server_value(d, net_s_restart, 2));
    }
    ASSERT_TRUE(server.pump_until(60, [&] { return server.own_states.size() >= 100; }))
        << test::read_file(log);
    const long frames_raced = video.frames;
    ASSERT_TRUE(server.pump_until(30, [&] { return video.frames > frames_raced + 10; }));
    const std::vector<unsigned char> raced = video.take();
    // A chat line typed on the way.
    const bool chatted = server.pump_until(120, [&] { return !server.chats.empty(); });

    const int code = finish();
    // The goodbye arrives as the game ends.
    server.pump(0.5);
    EXPECT_EQ(code, 0) << test::read_file(dirs.root / "stderr.txt");
    net_close(server.s);
    const std::string text = test::read_file(log);

    // The way in, in order.
    size_t at = 0;
    for (const char* step : {"Contacting server", "Sending client info", "Sending track acknowledgment",
                             "Sending bike acknowledgment 5", "2 laps", "Sending restart",
                             "Sending track acknowledgment", "2 laps", "Disconnecting"}) {
        const size_t found = text.find(step, at);
        EXPECT_NE(found, std::string::npos) << step << "\n" << text;
        if (found != std::string::npos)
            at = found;
    }
    EXPECT_GE(server.disconnects, 1);
    ASSERT_FALSE(server.types.empty());
    EXPECT_EQ(server.types.front(), net_c_contact);
    EXPECT_EQ(server.types.back(), net_c_disconnect);

    // Own states: every fourth tick, 32 a second of the server's time.
    const auto& states = server.own_states;
    ASSERT_GE(states.size(), 100u);
    int steps_of_four = 0;
    for (size_t i = 0; i < states.size(); i++) {
        EXPECT_EQ(states[i].second % 4, 0) << "tick " << states[i].second;
        if (i > 0)
            steps_of_four += states[i].second - states[i - 1].second == 4;
    }
    EXPECT_GE(steps_of_four, (int)(states.size() - 1) * 9 / 10);
    const double seconds = states.back().first - states.front().first;
    const double rate = (states.size() - 1) / seconds;
    EXPECT_GT(rate, 24.0) << seconds << " s";
    EXPECT_LT(rate, 40.0) << seconds << " s";

    // The chat line as typed.
    EXPECT_TRUE(chatted) << text;
    if (chatted) {
        EXPECT_EQ(server.chats.front(), chat_text);
    }

    // The warm-up notice is in the recorded picture, and gone in the race.
    ASSERT_EQ(warm.size(), (size_t)W * H * 3);
    ASSERT_EQ(raced.size(), (size_t)W * H * 3);
    const std::string dir = test::pictures_dir();
    write_png_picture((dir + "/net-warmup.png").c_str(), warm.data(), W, H, 3, nullptr);
    write_png_picture((dir + "/net-race.png").c_str(), raced.data(), W, H, 3, nullptr);
    const int warm_text = notice_pixels(warm), race_text = notice_pixels(raced);
    printf("notice pixels: warm-up %d, race %d\n", warm_text, race_text);
    EXPECT_GE(warm_text, 150);
    EXPECT_LT(race_text, warm_text / 4);
}
