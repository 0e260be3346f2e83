// The virtual matrix: its decoder, and the program itself receiving what
// the serial component sends.

#include "MatrixDecoder.h"
#include "matrix/MatrixControl.h"
#include "serial/MSerialPort.h"
#include "support/PseudoTerminal.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace matrixsim;
using namespace tarvelo;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> describe(const std::vector<MatrixEvent>& events)
{
    std::vector<std::string> out;
    for (const auto& e : events)
        out.push_back(e.describe());
    return out;
}

}  // namespace

TEST(MatrixDecoder, CommandsRawBytesAndMonitors)
{
    MatrixDecoder d;
    EXPECT_EQ(describe(d.feed("1Ma12#a1Ta0Ta2Ma-3#a")),
              (std::vector<std::string>{"camera 12 -> monitor 1", "zoom in: start", "zoom in: stop",
                                        "camera -3 -> monitor 2"}));
    EXPECT_EQ(describe(d.feed("AB\x01" "1Ua")), (std::vector<std::string>{"raw: 41 42 01", "tilt up: start"}));
    EXPECT_EQ((std::map<int64_t, int64_t>{{1, 12}, {2, -3}}), d.monitors());
}

TEST(MatrixDecoder, CommandsSplitAcrossReads)
{
    MatrixDecoder d;
    EXPECT_TRUE(d.feed("1M").empty());
    EXPECT_TRUE(d.feed("a1").empty());
    EXPECT_EQ(describe(d.feed("2#a0")), (std::vector<std::string>{"camera 12 -> monitor 1"}));
    EXPECT_EQ(describe(d.feed("Ca")), (std::vector<std::string>{"aperture out: stop"}));
    EXPECT_TRUE(d.feed("3Ma").empty());
    EXPECT_EQ(describe(d.flush()), (std::vector<std::string>{"raw: 33 4D 61"}));
    EXPECT_EQ(describe(d.feed("123456789012Ma1#a")).front().substr(0, 4), "raw:") << "too long a number";
}

TEST(MatrixSim, PrintsWhatTheSerialComponentSends)
{
    test::PortsDir ports;
    std::string out = ports.path() + "/sim.out";
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::freopen(out.c_str(), "w", stdout);
        execl(MATRIX_SIM, MATRIX_SIM, "--dir", ports.path().c_str(), "--port", "7", (char*)nullptr);
        _exit(127);
    }
    for (int i = 0; i < 200 && !std::filesystem::exists(ports.path() + "/COM7"); ++i)
        std::this_thread::sleep_for(10ms);
    {
        TMSerialPort serial;
        ASSERT_TRUE(serial.OpenPort(7, 9600, 8, 'n', 1));
        serial.StartThreads();
        MatrixControl matrix{serial, {7, true, 1, 2}};
        matrix.SwitchToMonitor(12);
        matrix.PressHeadButton(HeadButton::ZoomIn);
        matrix.ReleaseHeadButton(HeadButton::ZoomIn);
        matrix.SendMatrixCommand("??");
        std::this_thread::sleep_for(400ms);
        serial.StopThreads();
        serial.ClosePorts();
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::FILE* f = std::fopen(out.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, f))
        lines.emplace_back(std::string(line).substr(13));  // past "hh:mm:ss.zzz "
    std::fclose(f);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(0, 10), "matrix on ");
    EXPECT_EQ(lines[1], "camera 12 -> monitor 1\n");
    EXPECT_EQ(lines[2], "zoom in: start\n");
    EXPECT_EQ(lines[3], "zoom in: stop\n");
    EXPECT_EQ(lines[4], "raw: 3F 3F\n");
    EXPECT_EQ(lines[5], "monitors: 1=camera 12\n");
}
