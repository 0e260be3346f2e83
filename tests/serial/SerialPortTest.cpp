// The port functions on real pseudo-terminals: what reaches the line and
// which line settings the port side really carries.

#include "serial/CustomBaud.h"
#include "serial/SerialPort.h"
#include "serial/SerialTermios.h"
#include "support/OrdinaryUser.h"
#include "support/PseudoTerminal.h"

#include <fstream>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

// A line for one test: COM3 on a fresh pseudo-terminal, whose far end stays
// open as the matrix's would.
struct Line {
    PortsDir ports;
    PseudoTerminal far{ports, 3};

    // The port side's settings; on a pseudo-terminal the master reports them.
    termios portSettings()
    {
        termios tio{};
        EXPECT_EQ(tcgetattr(far.master(), &tio), 0);
        return tio;
    }
};

class SerialPortTest : public ::testing::Test {
protected:
    Line line;
};

struct LineCase {
    int32_t baud;
    int32_t dataBits;
    char parity;
    float stopBits;
    speed_t speed;  // B0: not a standard rate
    tcflag_t size;
    tcflag_t parityFlags;
    bool twoStopBits;
};

}  // namespace

TEST(SerialPortRules, ParityStopBitsAndByteSize)
{
    EXPECT_EQ(ParityFromLetter('n'), ParityMode::None);
    EXPECT_EQ(ParityFromLetter('O'), ParityMode::Odd);
    EXPECT_EQ(ParityFromLetter('e'), ParityMode::Even);
    EXPECT_EQ(ParityFromLetter('M'), ParityMode::Mark);
    EXPECT_EQ(ParityFromLetter('s'), ParityMode::Space);
    EXPECT_EQ(ParityFromLetter('x'), ParityMode::None);
    EXPECT_EQ(ParityFromLetter('\xB0'), ParityMode::None);
    EXPECT_EQ(StopBitsFromCount(1.0f), StopBitsMode::One);
    EXPECT_EQ(StopBitsFromCount(1.5f), StopBitsMode::OneAndHalf);
    EXPECT_EQ(StopBitsFromCount(2.0f), StopBitsMode::Two);
    EXPECT_EQ(StopBitsFromCount(0.0f), StopBitsMode::One);
    EXPECT_EQ(StopBitsFromCount(1.4f), StopBitsMode::One);
    EXPECT_EQ(StopBitsFromCount(2.09f), StopBitsMode::Two);
    EXPECT_EQ(StopBitsFromCount(-2.0f), StopBitsMode::One);
    EXPECT_EQ(StopBitsFromCount(1e30f), StopBitsMode::One);
    EXPECT_EQ(ByteSizeFromDataBits(264), 8);
    EXPECT_EQ(ByteSizeFromDataBits(-249), 7);
}

TEST(SerialPortRules, PortNumbersNameDevices)
{
    unsetenv("TARVELO_COMPORTS");
    EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortDevicePath(98), "/dev/ttyS97");
    EXPECT_EQ(PortDevicePath(0), "");
    EXPECT_EQ(PortDevicePath(-3), "");
    EXPECT_EQ(OpenComm(0, 9600, 8, 'n', 1), InvalidPortHandle);
    EXPECT_EQ(OpenComm(-1, 9600, 8, 'n', 1), InvalidPortHandle);
}

// A pseudo-terminal keeps speed, stop bits, flow control and raw mode as
// set, but always reports 8 data bits and no parity: those two are checked
// on the settings handed to the driver.
TEST(SerialPortLine, LineSettingsReallyReachThePort)
{
    runAsEveryUser([] {
        Line line;
        const LineCase cases[] = {
            {9600, 8, 'n', 1.0f, B9600, CS8, 0, false},
            {19200, 7, 'e', 2.0f, B19200, CS7, PARENB, true},
            {1200, 5, 'O', 1.5f, B1200, CS5, PARENB | PARODD, true},
            {115200, 6, 'm', 1.0f, B115200, CS6, PARENB | PARODD | CMSPAR, false},
            {4800, 264, 'S', 1.0f, B4800, CS8, PARENB | CMSPAR, false},
            {250000, 8, 'x', 0.0f, B0, CS8, 0, false},  // not a standard rate
        };
        for (const LineCase& c : cases) {
            SCOPED_TRACE(c.baud);
            termios handed = LineTermios(termios{}, ByteSizeFromDataBits(c.dataBits), ParityFromLetter(c.parity),
                                         StopBitsFromCount(c.stopBits));
            EXPECT_EQ(handed.c_cflag & CSIZE, c.size);
            EXPECT_EQ(handed.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
            EXPECT_EQ(handed.c_iflag & INPCK, 0u) << "received parity is not checked";

            PortHandle h = OpenComm(3, c.baud, c.dataBits, c.parity, c.stopBits);
            ASSERT_NE(h, InvalidPortHandle);
            termios tio = line.portSettings();
            EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
            EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
            EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u) << "no software flow control";
            EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw";
            EXPECT_EQ(tio.c_oflag & OPOST, 0u) << "raw";
            EXPECT_NE(tio.c_cflag & CLOCAL, 0u);
            EXPECT_EQ(tio.c_cc[VMIN], 0);
            EXPECT_EQ(tio.c_cc[VTIME], 0);
            if (c.speed != B0) {
                EXPECT_EQ(cfgetospeed(&tio), c.speed);
            }
            EXPECT_EQ(ReadBaudRate(line.far.master()), uint32_t(c.baud));
            CloseComm(h);
        }
    });
}

TEST(SerialPortLine, SettingsTheLineCannotCarryAreRefusedAndThePortReleased)
{
    runAsEveryUser([] {
        Line line;
        EXPECT_EQ(OpenComm(3, 0, 8, 'n', 1), InvalidPortHandle) << "baud 0, as with no settings file";
        EXPECT_EQ(OpenComm(3, 9600, 0, 'n', 1), InvalidPortHandle) << "data bits 0";
        EXPECT_EQ(OpenComm(3, 9600, 9, 'n', 1), InvalidPortHandle);
        EXPECT_EQ(OpenComm(3, -9600, 8, 'n', 1), InvalidPortHandle);
        PortHandle h = OpenComm(3, 9600, 8, 'n', 1);
        EXPECT_NE(h, InvalidPortHandle) << "the failed opens left the port free";
        CloseComm(h);
    });
}

// The far end stays open all along, as the virtual matrix keeps it: the
// line must still be free for the next open once we have closed it.
TEST(SerialPortLine, OnlyOneOpenAtATimeAndThePortOpensAgainAfterClosing)
{
    runAsEveryUser([] {
        Line line;
        PortHandle first = OpenComm(3, 9600, 8, 'n', 1);
        ASSERT_NE(first, InvalidPortHandle);
        EXPECT_EQ(OpenComm(3, 9600, 8, 'n', 1), InvalidPortHandle);
        CloseComm(first);
        PortHandle again = OpenComm(3, 9600, 8, 'n', 1);
        EXPECT_NE(again, InvalidPortHandle);
        CloseComm(again);
        for (int round = 0; round < 3; ++round) {
            PortHandle next = OpenComm(3, 9600, 8, 'n', 1);
            EXPECT_NE(next, InvalidPortHandle) << "open number " << round + 3;
            CloseComm(next);
        }
        EXPECT_EQ(OpenComm(4, 9600, 8, 'n', 1), InvalidPortHandle) << "no COM4 in the ports directory";
    });
}

TEST_F(SerialPortTest, WriteAndReadOnlyWhatIsWaiting)
{
    PortHandle h = OpenComm(3, 9600, 8, 'n', 1);
    ASSERT_NE(h, InvalidPortHandle);
    const uint8_t command[] = {'1', 'M', 'a', '1', '2', '#', 'a'};
    EXPECT_EQ(WriteComm(h, command, 7), 7);
    EXPECT_EQ(line.far.read(7), "1Ma12#a");

    uint8_t buffer[16] = {};
    EXPECT_EQ(ReadComm(h, buffer, 16), 0) << "nothing waiting: no wait either";
    line.far.write("abcdefghij");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ReadComm(h, buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, buffer + 4), "abcd");
    EXPECT_EQ(ReadComm(h, buffer, 16), 6);
    EXPECT_EQ(WriteComm(h, command, 0), 0);
    CloseComm(h);
    EXPECT_EQ(WriteComm(InvalidPortHandle, command, 7), 0);
    EXPECT_EQ(ReadComm(InvalidPortHandle, buffer, 16), 0);
}

TEST_F(SerialPortTest, AWriteThatCannotDrainGivesUpInsteadOfHanging)
{
    PortHandle h = OpenComm(3, 115200, 8, 'n', 1);
    ASSERT_NE(h, InvalidPortHandle);
    std::vector<uint8_t> block(256 * 1024, 'x');  // nobody reads the other end
    auto start = std::chrono::steady_clock::now();
    int32_t written = WriteComm(h, block.data(), int32_t(block.size()));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(written, int32_t(block.size()));
    EXPECT_LT(took, std::chrono::seconds(10));
    CloseComm(h);
}

// The console only says the serial parameters are wrong; the log says why.
TEST(SerialPortLine, AFailedOpenLogsItsReason)
{
    Line line;
    std::string log = line.ports.path() + "/serial.log";
    setenv("TARVELO_LOG", log.c_str(), 1);
    PortHandle first = OpenComm(3, 9600, 8, 'n', 1);
    EXPECT_EQ(OpenComm(3, 9600, 8, 'n', 1), InvalidPortHandle);
    EXPECT_EQ(OpenComm(4, 9600, 8, 'n', 1), InvalidPortHandle);
    EXPECT_EQ(OpenComm(0, 9600, 8, 'n', 1), InvalidPortHandle);
    CloseComm(first);
    EXPECT_EQ(OpenComm(3, 0, 8, 'n', 1), InvalidPortHandle);
    unsetenv("TARVELO_LOG");
    std::ifstream in(log);
    std::string lines((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(lines.find("COM3: " + line.ports.path() + "/COM3 is in use by another program"), std::string::npos)
        << lines;
    EXPECT_NE(lines.find("COM4: cannot open /dev/ttyS3: "), std::string::npos) << lines;
    EXPECT_NE(lines.find("COM0: no serial line has that number"), std::string::npos) << lines;
    EXPECT_NE(lines.find("COM3: a line cannot carry 0 baud with 8 data bits"), std::string::npos) << lines;
}
