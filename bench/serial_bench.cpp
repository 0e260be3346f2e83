// Serial link figures: how long a queued matrix command takes to reach the
// other end of a line, and what the idle worker threads cost, each beside a
// baseline measured in the same run (a bare 1 ms sleep loop, the raw
// write-to-read latency of a pseudo-terminal).

#include "serial/MSerialPort.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono;
using tarvelo::TMSerialPort;

namespace {

constexpr int Commands = 1000;
const char Command[] = "1Ma12#a";  // 7 bytes

double cpuSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Stats {
    double median, p99, max;
};

Stats summarize(std::vector<double> us)
{
    std::sort(us.begin(), us.end());
    return {us[us.size() / 2], us[size_t(double(us.size()) * 0.99)], us.back()};
}

struct Pty {
    int master = -1, slave = -1;
    std::string name;
    Pty()
    {
        char n[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, n, &raw, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        name = n;
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        if (slave >= 0)
            close(slave);
        close(master);
    }
};

// The other end waits in poll(), as a device's driver would.
bool readExactly(int fd, size_t count)
{
    char buffer[64];
    size_t got = 0;
    while (got < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            return false;
        ssize_t n = read(fd, buffer, std::min(sizeof buffer, count - got));
        if (n > 0)
            got += size_t(n);
        else if (n == 0)
            return false;
    }
    return true;
}

// One thread that sleeps 1 ms a pass and does nothing else.
void bareSleepLoops(int threads, double seconds, double& cpuShare, double& passMs)
{
    std::atomic<bool> running{true};
    std::atomic<long> passes{0};
    std::vector<std::thread> pool;
    double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    auto t0 = steady_clock::now();
    for (int i = 0; i < threads; ++i)
        pool.emplace_back([&] {
            while (running) {
                std::this_thread::sleep_for(milliseconds(1));
                ++passes;
            }
        });
    std::this_thread::sleep_for(duration<double>(seconds));
    running = false;
    for (auto& t : pool)
        t.join();
    double wall = duration<double>(steady_clock::now() - t0).count();
    cpuShare = (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / wall;
    passMs = wall * 1000.0 * threads / double(passes.load());
}

Stats rawPtyLatency()
{
    Pty pty;
    std::vector<double> us;
    for (int i = 0; i < Commands; ++i) {
        auto t0 = steady_clock::now();
        if (write(pty.slave, Command, 7) != 7 || !readExactly(pty.master, 7))
            std::exit(1);
        us.push_back(duration<double, std::micro>(steady_clock::now() - t0).count());
    }
    return summarize(us);
}

struct Link {
    std::string dir;
    Pty pty;
    TMSerialPort serial;
    Link()
    {
        char pattern[] = "/tmp/tarvelo-bench-XXXXXX";
        dir = mkdtemp(pattern);
        std::filesystem::create_symlink(pty.name, dir + "/COM1");
        close(pty.slave);
        pty.slave = -1;
        setenv("TARVELO_COMPORTS", dir.c_str(), 1);
        if (!serial.OpenPort(1, 115200, 8, 'n', 1)) {
            std::fprintf(stderr, "cannot open the benchmark line\n");
            std::exit(1);
        }
        serial.StartThreads();
    }
    ~Link()
    {
        serial.StopThreads();
        serial.ClosePorts();
        std::filesystem::remove_all(dir);
    }
};

// Commands arrive at random moments, as a user's clicks do, so that every
// phase of the send thread's 1 ms sleep is met.
Stats sendDataLatency(Link& link)
{
    std::mt19937 random(42);
    std::uniform_int_distribution<int> pause(0, 1500);
    std::vector<double> us;
    for (int i = 0; i < Commands; ++i) {
        std::this_thread::sleep_for(microseconds(pause(random)));
        auto t0 = steady_clock::now();
        link.serial.SendData(1, reinterpret_cast<const uint8_t*>(Command), 7);
        if (!readExactly(link.pty.master, 7))
            std::exit(1);
        us.push_back(duration<double, std::micro>(steady_clock::now() - t0).count());
    }
    return summarize(us);
}

double idleWorkersCpuShare(double seconds)
{
    double cpu0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    auto t0 = steady_clock::now();
    std::this_thread::sleep_for(duration<double>(seconds));
    double wall = duration<double>(steady_clock::now() - t0).count();
    return (cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / wall;
}

}  // namespace

int main()
{
    const double seconds = 2.0;
    const int rounds = 5;
    std::printf("Serial link benchmark (%d commands of 7 bytes; idle CPU: median of %d alternating rounds of "
                "%.0f s)\n",
                Commands, rounds, seconds);

    double bareShare1 = 0, barePass = 0;
    bareSleepLoops(1, seconds, bareShare1, barePass);
    std::printf("baseline: bare 1 ms sleep loop: one pass %.3f ms, CPU %.2f%% of a core\n", barePass,
                bareShare1 * 100);

    Stats raw = rawPtyLatency();
    std::printf("baseline: pseudo-terminal write to read: median %.1f us, p99 %.1f us, max %.1f us\n", raw.median,
                raw.p99, raw.max);

    // The machine's load drifts: bare loops and workers take turns.
    std::vector<double> bare, idle;
    for (int r = 0; r < rounds; ++r) {
        double share = 0, pass = 0;
        bareSleepLoops(2, seconds, share, pass);
        bare.push_back(share);
        Link link;
        idle.push_back(idleWorkersCpuShare(seconds));
    }
    std::sort(bare.begin(), bare.end());
    std::sort(idle.begin(), idle.end());
    double bareShare2 = bare[rounds / 2], idleShare = idle[rounds / 2];
    std::printf("baseline: two bare 1 ms sleep loops: CPU %.2f%% of a core\n", bareShare2 * 100);
    std::printf("idle send + receive workers (one port): CPU %.2f%% of a core = %.2f x two bare loops "
                "(target <= 1.10)\n",
                idleShare * 100, idleShare / bareShare2);

    Link link;
    Stats send = sendDataLatency(link);
    std::printf("SendData to readable at the other end: median %.1f us, p99 %.1f us, max %.1f us "
                "(target p99 < 2000 us)\n",
                send.median, send.p99, send.max);
    return 0;
}
