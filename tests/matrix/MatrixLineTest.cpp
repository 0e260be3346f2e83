// Matrix commands end to end: the console's matrix control queues them on a
// real serial component whose port is a pseudo-terminal, and the test reads
// the exact bytes at the matrix's end.

#include "matrix/MatrixControl.h"
#include "serial/MSerialPort.h"
#include "support/PseudoTerminal.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;
using namespace std::chrono_literals;

namespace {

class MatrixLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(serial.OpenPort(5, 9600, 8, 'n', 1));
        ASSERT_TRUE(serial.StartThreads());
    }
    void TearDown() override
    {
        serial.StopThreads();
        serial.ClosePorts();
    }

    PortsDir ports;
    PseudoTerminal line{ports, 5};
    TMSerialPort serial;
    MatrixControl matrix{serial, {5, true, 1, 2}};
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

TEST(MatrixProtocol, CommandTexts)
{
    EXPECT_EQ(SwitchCommand(1, 12), "1Ma12#a");
    EXPECT_EQ(SwitchCommand(2, 7), "2Ma7#a");
    EXPECT_EQ(SwitchCommand(INT32_MIN, INT32_MIN), "-2147483648Ma-2147483648#a");
    EXPECT_EQ(HeadCommand(HeadButton::Up, true), "1Ua");
    EXPECT_EQ(HeadCommand(HeadButton::ApertureOut, false), "0Ca");
}

TEST_F(MatrixLineTest, SwitchCommandsOnTheLine)
{
    matrix.SwitchToMonitor(12);
    EXPECT_EQ(line.read(7), "1Ma12#a");
    matrix.SwitchToTV(5);
    EXPECT_EQ(line.read(6), "2Ma5#a");
    EXPECT_EQ(matrix.CurrentPort(), 5);
    matrix.SwitchToMonitor(0);
    matrix.SwitchToMonitor(-3);
    EXPECT_EQ(line.read(13), "1Ma0#a1Ma-3#a");
    matrix.SwitchToMonitor(INT32_MAX);
    matrix.SwitchToTV(INT32_MIN);
    EXPECT_EQ(line.read(31), "1Ma2147483647#a2Ma-2147483648#a");
    EXPECT_EQ(matrix.CurrentPort(), INT32_MIN);
    EXPECT_EQ(line.drain(), "") << "nothing else";
}

TEST_F(MatrixLineTest, EveryCameraHeadButtonPressAndRelease)
{
    const std::pair<HeadButton, char> buttons[] = {
        {HeadButton::Up, 'U'},      {HeadButton::Down, 'D'},       {HeadButton::Left, 'L'},
        {HeadButton::Right, 'R'},   {HeadButton::ZoomIn, 'T'},     {HeadButton::ZoomOut, 'W'},
        {HeadButton::FocusIn, 'N'}, {HeadButton::FocusOut, 'F'},   {HeadButton::ApertureIn, 'O'},
        {HeadButton::ApertureOut, 'C'},
    };
    for (auto [button, letter] : buttons) {
        matrix.PressHeadButton(button);
        matrix.ReleaseHeadButton(button);
        EXPECT_EQ(line.read(6), (std::string{'1', letter, 'a', '0', letter, 'a'}));
    }
    EXPECT_EQ(line.drain(), "");
}

TEST_F(MatrixLineTest, NothingIsSentWhileTheLinkIsDown)
{
    MatrixControl down{serial, {5, false, 1, 2}};
    down.SwitchToMonitor(9);
    down.SwitchToTV(9);
    EXPECT_EQ(down.CurrentPort(), 0);
    MatrixControl otherPort{serial, {6, true, 1, 2}};  // a port that is not open
    otherPort.PressHeadButton(HeadButton::Up);
    otherPort.SwitchToMonitor(3);
    EXPECT_EQ(otherPort.CurrentPort(), 3);
    EXPECT_EQ(line.drain(), "");
}

TEST_F(MatrixLineTest, AnOverlongCommandIsCutToTheBuffer)
{
    matrix.SendMatrixCommand(std::string(5000, 'z'));
    EXPECT_EQ(line.read(1025) + line.drain(), std::string(1025, 'z'));
}

TEST_F(MatrixLineTest, TheMatrixHangingUpNeitherCrashesNorSpins)
{
    matrix.SwitchToMonitor(1);
    EXPECT_EQ(line.read(6), "1Ma1#a");
    line.closeMaster();
    double before = cpuSeconds();
    for (int i = 0; i < 50; ++i) {
        matrix.PressHeadButton(HeadButton::Left);
        std::this_thread::sleep_for(10ms);
    }
    double used = cpuSeconds() - before;
    EXPECT_LT(used, 0.35) << "CPU seconds in 0.5 s with the line dead";
    auto start = std::chrono::steady_clock::now();
    serial.StopThreads();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}
