// When RTS may drop after a write on an RS-485 line, against a clock that
// only the test moves: a driver whose queue empties at once (it handed the
// bytes to the UART) must not end the command early.

#include "serial/LineDrain.h"

#include <gtest/gtest.h>

using namespace tarvelo;
using namespace std::chrono;

namespace {

LineSettings line(int baud, int dataBits, char parity, float stopBits)
{
    LineSettings settings;
    settings.baudRate = baud;
    settings.dataBits = dataBits;
    settings.parity = parity;
    settings.stopBits = stopBits;
    return settings;
}

struct FakeLine {
    steady_clock::time_point clock{};
    std::vector<long> queue;  // what the driver reports, one value a look; the last repeats
    size_t looks = 0;

    LineDrain drain()
    {
        LineDrain d;
        d.queuedBytes = [this] { return queue[std::min(looks++, queue.size() - 1)]; };
        d.now = [this] { return clock; };
        d.sleep = [this](microseconds wait) { clock += wait; };
        return d;
    }
};

}  // namespace

TEST(LineDrain, CharacterTimeCountsEveryBitOfTheFrame)
{
    EXPECT_EQ(CharacterTime(line(9600, 8, 'n', 1)), microseconds(1042));
    EXPECT_EQ(CharacterTime(line(9600, 8, 'e', 1)), microseconds(1146));
    EXPECT_EQ(CharacterTime(line(2400, 7, 'o', 2)), microseconds(4584));
    EXPECT_EQ(CharacterTime(line(1200, 8, 'n', 1.5f)), microseconds(9167)) << "1.5 stop bits count as 2";
}

TEST(LineDrain, RtsWaitsForTheQueueAndEveryCharactersTime)
{
    const LineSettings rs485 = line(9600, 8, 'n', 1);
    const microseconds command = CharacterTime(rs485) * 7;  // "2Ma3#a" and one for the UART's own buffer

    FakeLine emptiedAtOnce{{}, {0}};
    EXPECT_TRUE(emptiedAtOnce.drain().waitUntilSent({}, 6, rs485, milliseconds(500)));
    EXPECT_GE(emptiedAtOnce.clock - steady_clock::time_point{}, command) << "an empty queue is not an empty line";
    EXPECT_LT(emptiedAtOnce.clock - steady_clock::time_point{}, command + milliseconds(1));

    FakeLine draining{{}, {6, 4, 1, 0}};
    EXPECT_TRUE(draining.drain().waitUntilSent({}, 6, rs485, milliseconds(500)));
    EXPECT_GE(draining.clock - steady_clock::time_point{}, command);
    EXPECT_GE(draining.looks, 4u) << "RTS stays up while the driver still holds bytes";

    FakeLine stuck{{}, {3}};
    EXPECT_FALSE(stuck.drain().waitUntilSent({}, 6, rs485, milliseconds(50)));
    EXPECT_EQ(stuck.clock - steady_clock::time_point{}, milliseconds(50)) << "a stuck driver is given up on";
}
