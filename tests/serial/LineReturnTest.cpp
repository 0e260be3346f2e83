// A USB serial adapter pulled out and put back: the matrix link notices,
// logs it, drops what was ordered meanwhile, and comes back by itself on
// whatever device the port's COMn link names now.

#include "serial/MSerialPort.h"
#include "support/OrdinaryUser.h"
#include "support/PseudoTerminal.h"

#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;
using namespace std::chrono_literals;

namespace {

void send(TMSerialPort& serial, int32_t port, const std::string& data)
{
    serial.SendData(port, reinterpret_cast<const uint8_t*>(data.data()), int32_t(data.size()));
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitForLogLine(const std::string& log, const std::string& words, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (fileText(log).find(words) != std::string::npos)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

// The serial log of one test, in its ports directory.
struct SerialLog {
    explicit SerialLog(const PortsDir& ports) : path(ports.path() + "/serial.log")
    {
        setenv("TARVELO_LOG", path.c_str(), 1);
    }
    ~SerialLog() { unsetenv("TARVELO_LOG"); }
    std::string path;
};

}  // namespace

TEST(LineReturn, TheLinkComesBackOnTheNewDeviceAndForgetsOrdersGivenMeanwhile)
{
    runAsEveryUser([] {
        PortsDir ports;
        SerialLog log(ports);
        auto adapter = std::make_unique<PseudoTerminal>(ports, 6);
        TMSerialPort serial;
        ASSERT_TRUE(serial.OpenPort(6, 9600, 8, 'n', 1));
        ASSERT_TRUE(serial.StartThreads());
        send(serial, 6, "1Ma1#a");
        EXPECT_EQ(adapter->read(6), "1Ma1#a");

        adapter.reset();  // pulled out: the far end hangs up and COM6 is gone
        ASSERT_TRUE(waitForLogLine(log.path, "COM6: the line was lost", 2s)) << fileText(log.path);
        send(serial, 6, "1Ua");  // a camera head told to move while the line is away
        std::this_thread::sleep_for(50ms);

        PseudoTerminal replugged(ports, 6);  // put back, as a new device
        ASSERT_TRUE(waitForLogLine(log.path, "COM6: the line is back", 3s)) << fileText(log.path);
        send(serial, 6, "2Ma3#a");
        EXPECT_EQ(replugged.read(6), "2Ma3#a") << "the old order must not arrive first";
        EXPECT_EQ(replugged.drain(), "");

        PortHandle second = OpenComm(6, 9600, 8, 'n', 1);
        EXPECT_EQ(second, InvalidPortHandle) << "the returned line is held exclusively again";
        CloseComm(second);
        serial.StopThreads();
        serial.ClosePorts();
    });
}

TEST(LineReturn, ALinkThatStaysAwayStillStopsAndClosesAtOnce)
{
    PortsDir ports;
    SerialLog log(ports);
    auto adapter = std::make_unique<PseudoTerminal>(ports, 7);
    TMSerialPort serial;
    ASSERT_TRUE(serial.OpenPort(7, 9600, 8, 'n', 1));
    ASSERT_TRUE(serial.StartThreads());
    adapter.reset();
    ASSERT_TRUE(waitForLogLine(log.path, "COM7: the line was lost", 2s));
    for (int i = 0; i < 50; ++i)
        send(serial, 7, "1Da");
    std::this_thread::sleep_for(1200ms);  // at least one attempt to reopen, which fails
    auto start = std::chrono::steady_clock::now();
    serial.StopThreads();
    serial.ClosePorts();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(fileText(log.path).find("the line is back"), std::string::npos);
}
