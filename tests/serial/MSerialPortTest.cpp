// The serial component's table, rings and workers, over a stand-in for the
// system's ports so that every call and every write can be seen.

#include "serial/MSerialPort.h"
#include "FakeSerialPlatform.h"

#include <atomic>
#include <gtest/gtest.h>
#include <numeric>
#include <thread>

using namespace tarvelo;
using namespace tarvelo::test;
using namespace std::chrono_literals;

namespace {

std::string bytes(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char('A' + i % 26);
    return s;
}

void send(TMSerialPort& serial, int32_t port, const std::string& data)
{
    serial.SendData(port, reinterpret_cast<const uint8_t*>(data.data()), int32_t(data.size()));
}

class MSerialPortTest : public ::testing::Test {
protected:
    FakeSerialPlatform platform;
    TMSerialPort serial{platform};
};

}  // namespace

TEST_F(MSerialPortTest, OpenPortLimitsAndFailures)
{
    EXPECT_FALSE(serial.OpenPort(99, 9600, 8, 'n', 1));
    EXPECT_FALSE(serial.OpenPort(INT32_MAX, 9600, 8, 'n', 1));
    EXPECT_TRUE(platform.calls().empty()) << "99 and up never reach the system";
    EXPECT_TRUE(serial.OpenPort(98, 9600, 8, 'n', 1));
    EXPECT_TRUE(serial.OpenPort(0, 9600, 8, 'n', 1)) << "0 and below are the system's to refuse";
    EXPECT_FALSE(serial.OpenPort(98, 9600, 8, 'n', 1)) << "already open";
    EXPECT_EQ(serial.Count(), 2);
    platform.refuse(5);
    EXPECT_FALSE(serial.OpenPort(5, 9600, 8, 'n', 1));
    EXPECT_EQ(serial.Count(), 2);
}

TEST_F(MSerialPortTest, TheTableHoldsAHundredRows)
{
    for (int32_t port = -2; port < 98; ++port)
        ASSERT_TRUE(serial.OpenPort(port, 9600, 8, 'n', 1));
    EXPECT_EQ(serial.Count(), 100);
    size_t calls = platform.calls().size();
    EXPECT_FALSE(serial.OpenPort(-50, 9600, 8, 'n', 1));
    EXPECT_EQ(platform.calls().size(), calls);
}

TEST_F(MSerialPortTest, TheRingKeepsAtMost8191Bytes)
{
    ASSERT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1));
    std::string data = bytes(9000);
    send(serial, 1, data);
    EXPECT_EQ(serial.row(0).Ring.queued(), 8191);
    serial.SendData(1, reinterpret_cast<const uint8_t*>("x"), 0);
    serial.SendData(1, nullptr, 5);
    send(serial, 7, "lost");  // no such port
    EXPECT_EQ(serial.row(0).Ring.queued(), 8191);
    ASSERT_TRUE(serial.StartThreads());
    auto writes = platform.writes(1, 8191);
    serial.StopThreads();
    std::string sent = std::accumulate(writes.begin(), writes.end(), std::string());
    EXPECT_EQ(sent, data.substr(0, 8191)) << "the first 8191 bytes, in order";
}

TEST_F(MSerialPortTest, QueuedBytesLeaveInPiecesOfAHundredInOrder)
{
    ASSERT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1));
    ASSERT_TRUE(serial.OpenPort(2, 9600, 8, 'n', 1));
    std::string data = bytes(250);
    send(serial, 1, data.substr(0, 120));
    send(serial, 1, data.substr(120));
    send(serial, 2, "2Ma5#a");
    serial.StartThreads();
    auto writes = platform.writes(1, 250);
    auto other = platform.writes(2, 6);
    serial.StopThreads();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], data.substr(0, 100));
    EXPECT_EQ(writes[1], data.substr(100, 100));
    EXPECT_EQ(writes[2], data.substr(200, 50));
    EXPECT_EQ(other, std::vector<std::string>{"2Ma5#a"});
}

TEST_F(MSerialPortTest, ReceivedBytesReachTheHandlerAThousandAtATime)
{
    ASSERT_TRUE(serial.OpenPort(4, 9600, 8, 'n', 1));
    std::mutex m;
    std::vector<std::pair<int32_t, std::string>> received;
    serial.OnReceiveData = [&](int32_t index, const uint8_t* data, int32_t len) {
        std::lock_guard lock(m);
        received.emplace_back(index, std::string(data, data + len));
    };
    std::string data = bytes(1500);
    platform.arrive(4, data);
    serial.StartThreads();
    for (int i = 0; i < 200 && platform.waitingInput(4) > 0; ++i)
        std::this_thread::sleep_for(5ms);
    serial.StopThreads();
    std::lock_guard lock(m);
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0], std::make_pair(4, data.substr(0, 1000)));
    EXPECT_EQ(received[1], std::make_pair(4, data.substr(1000)));
}

TEST_F(MSerialPortTest, AHandlerThatThrowsDoesNotEndTheReceiveThread)
{
    ASSERT_TRUE(serial.OpenPort(4, 9600, 8, 'n', 1));
    std::atomic<int> calls{0};
    serial.OnReceiveData = [&](int32_t, const uint8_t*, int32_t) {
        ++calls;
        throw std::runtime_error("the handler failed");
    };
    platform.arrive(4, bytes(1500));
    serial.StartThreads();
    for (int i = 0; i < 200 && platform.waitingInput(4) > 0; ++i)
        std::this_thread::sleep_for(5ms);
    platform.arrive(4, "more");
    for (int i = 0; i < 200 && platform.waitingInput(4) > 0; ++i)
        std::this_thread::sleep_for(5ms);
    serial.StopThreads();
    EXPECT_EQ(calls, 3) << "each delivery reached the handler; the thread lived on";
}

TEST_F(MSerialPortTest, WithoutAHandlerInputIsDrainedAndDropped)
{
    ASSERT_TRUE(serial.OpenPort(4, 9600, 8, 'n', 1));
    platform.arrive(4, bytes(5000));
    serial.StartThreads();
    for (int i = 0; i < 200 && platform.waitingInput(4) > 0; ++i)
        std::this_thread::sleep_for(5ms);
    serial.StopThreads();
    EXPECT_EQ(platform.waitingInput(4), 0u);
}

TEST_F(MSerialPortTest, ThreadsStartAndStopAtOnceAndTwice)
{
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(serial.StartThreads());
        EXPECT_TRUE(serial.StopThreads());
    }
    EXPECT_TRUE(serial.StopThreads());
    EXPECT_TRUE(serial.StartThreads());  // no port: the workers only sleep
    EXPECT_TRUE(serial.StartThreads());
    std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(serial.StopThreads());
}

TEST_F(MSerialPortTest, RowsOpenedWhileRunningWaitForTheNextStart)
{
    ASSERT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1));
    serial.StartThreads();
    ASSERT_TRUE(serial.OpenPort(2, 9600, 8, 'n', 1));
    send(serial, 2, "late");
    send(serial, 1, "on time");
    EXPECT_EQ(platform.writes(1, 7).size(), 1u);
    EXPECT_TRUE(platform.writes(2).empty());
    serial.StopThreads();
    serial.StartThreads();
    EXPECT_EQ(platform.writes(2, 4), std::vector<std::string>{"late"});
    serial.StopThreads();
}

// A console going away first lets its last commands (a camera head's
// release) leave; with no send thread nothing ever would.
TEST_F(MSerialPortTest, WaitingUntilWhatIsQueuedHasLeft)
{
    ASSERT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1));
    send(serial, 1, bytes(250));
    EXPECT_FALSE(serial.waitUntilSent(50ms)) << "no send thread";
    serial.StartThreads();
    EXPECT_TRUE(serial.waitUntilSent(2000ms));
    serial.StopThreads();
    auto writes = platform.writes(1, 250);
    size_t total = 0;
    for (const auto& w : writes)
        total += w.size();
    EXPECT_EQ(total, 250u);
}

TEST_F(MSerialPortTest, ClosingDropsWhatIsQueuedAndLaterSends)
{
    serial.ClosePorts();  // empty table: nothing happens
    EXPECT_TRUE(platform.calls().empty());
    ASSERT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1));
    send(serial, 1, "never sent");
    serial.ClosePorts();
    EXPECT_EQ(serial.Count(), 0);
    send(serial, 1, "dropped");
    EXPECT_EQ(platform.calls(), (std::vector<std::string>{"open 1", "close 1"}));
    EXPECT_TRUE(platform.writes(1).empty());
    EXPECT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1)) << "the port is free again";
}

TEST_F(MSerialPortTest, SendingFromManyThreadsWhileTheWorkersRun)
{
    ASSERT_TRUE(serial.OpenPort(1, 9600, 8, 'n', 1));
    serial.StartThreads();
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t)
        senders.emplace_back([&] {
            for (int i = 0; i < 500; ++i)
                send(serial, 1, "1Ta");
        });
    for (auto& t : senders)
        t.join();
    auto writes = platform.writes(1, 6000);
    serial.StopThreads();
    std::string sent = std::accumulate(writes.begin(), writes.end(), std::string());
    ASSERT_EQ(sent.size(), 6000u);
    for (size_t i = 0; i < sent.size(); i += 3)
        ASSERT_EQ(sent.substr(i, 3), "1Ta") << "a command was torn at " << i;
}
