// A whole race through real processes: kessrig-server for one race of one
// lap and two kessrig-sim clients whose bikes the auto pilot rides in real
// time. Both must finish, and the order the server classifies them in must
// be the order both players' own rankings show. Takes a lap of real time
// (about three minutes).
#include <gtest/gtest.h>

#include <signal.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/net.h"
#include "test_support.h"

namespace {

// Starts bin with args, its output into out_path, with XDG_DATA_HOME set.
int spawn(const std::string& bin, const std::vector<std::string>& args, const std::string& out_path,
          const std::string& xdg)
{
    const int pid = fork();
    if (pid != 0)
        return pid;
    const int fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        _exit(127);
    dup2(fd, 1);
    dup2(fd, 2);
    setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(bin.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(127);
}

std::string value_after(const std::string& text, const std::string& key)
{
    const size_t at = text.rfind(key);
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size();
    const size_t end = text.find_first_of(" \n", from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

int free_port()
{
    const net_socket s = net_open_bound_socket(0);
    const int port = net_local_port(s);
    net_close(s);
    return port;
}

TEST(RaceServerProcess, TwoAutoPilotClientsFinishAOneLapRaceInTheOrderTheServerClassifies)
{
    if (!KESSRIG_LINES_LEARNT)
        GTEST_SKIP() << "this build (a sanitizer build) does not ride the default tracks' lines";
    test::temp_dir dir;
    const std::string bin = test::build_data_dir();
    const std::string port = std::to_string(free_port());
    const int server = spawn(bin + "/kessrig-server",
                             {"--port", port, "--races", "1", "--laps", "1", "--tracks", "stadium", "--countdown", "4",
                              "--upload-dir", dir / "uploads", "--data", bin},
                             dir / "server.txt", dir / "server-home");
    ASSERT_GT(server, 0);
    ASSERT_TRUE(test::wait_for_text(dir / "server.txt", "listening", 30)) << test::read_file(dir / "server.txt");
    const std::string address = "127.0.0.1:" + port;
    const int one = spawn(bin + "/kessrig-sim", {"client", "--connect", address, "--name", "One", "--timeout", "30"},
                          dir / "one.txt", dir / "one-home");
    const int two = spawn(bin + "/kessrig-sim", {"client", "--connect", address, "--name", "Two", "--timeout", "30"},
                          dir / "two.txt", dir / "two-home");
    const int one_status = test::wait_exit(one, 420);
    const int two_status = test::wait_exit(two, 60);
    const int server_status = test::wait_exit(server, 30);
    const std::string log = test::read_file(dir / "server.txt");
    const std::string out_one = test::read_file(dir / "one.txt");
    const std::string out_two = test::read_file(dir / "two.txt");
    EXPECT_EQ(one_status, 0) << out_one;
    EXPECT_EQ(two_status, 0) << out_two;
    EXPECT_EQ(server_status, 0) << log;

    EXPECT_NE(log.find("name=\"One\""), std::string::npos) << log;
    EXPECT_NE(log.find("name=\"Two\""), std::string::npos) << log;
    EXPECT_NE(log.find("start race="), std::string::npos) << log;
    ASSERT_NE(log.find("result race="), std::string::npos) << log;
    EXPECT_EQ(value_after(log, "end="), "finished") << log;
    const std::string order = value_after(log, "order=");
    EXPECT_EQ(order.find(','), order.rfind(',')) << "two riders: " << order;
    EXPECT_NE(order.find(','), std::string::npos) << "two riders: " << order;
    EXPECT_EQ(value_after(out_one, "ranking="), order) << out_one;
    EXPECT_EQ(value_after(out_two, "ranking="), order) << out_two;
    EXPECT_NE(out_one.find("finished=yes laps=1"), std::string::npos) << out_one;
    EXPECT_NE(out_two.find("finished=yes laps=1"), std::string::npos) << out_two;
}

}  // namespace
