// The live picture while recordings start and stop, and how soon a newly
// connected test-pattern driver shows its first frame.

#include "capture/device/gstreamer/GstSession.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using namespace tarvelo;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double FrameIntervalMs = 1000.0 / 30;

// Notes when each live frame arrives.
class Arrivals final : public FrameSink {
public:
    void frameArrived(const QImage&, VIDEOHDR*) override
    {
        std::lock_guard lock(mutex_);
        times_.push_back(Clock::now());
    }
    void videoRecorded(VIDEOHDR*) override {}
    void audioRecorded(WAVEHDR*) override {}
    void statusChanged(int32_t, const std::string&) override {}

    std::vector<Clock::time_point> times()
    {
        std::lock_guard lock(mutex_);
        return times_;
    }

private:
    std::mutex mutex_;
    std::vector<Clock::time_point> times_;
};

SourceSpec testPattern(int width, int height)
{
    return SourceSpec{"videotestsrc is-live=true pattern=smpte horizontal-speed=4", "30/1",
                      "clockoverlay time-format=\"%H:%M:%S\" font-desc=\"Sans 20\" halignment=right "
                      "valignment=bottom",
                      "audiotestsrc is-live=true wave=sine freq=440 volume=0.3",
                      {},
                      {width, height, "BGRx"},
                      {}};
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// The largest gap between two frames that spans any moment in [from, to].
double largestGap(const std::vector<Clock::time_point>& times, Clock::time_point from, Clock::time_point to)
{
    double largest = 0;
    for (size_t i = 1; i < times.size(); ++i)
        if (times[i] >= from && times[i - 1] <= to)
            largest = std::max(largest, ms(times[i] - times[i - 1]));
    return largest;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double firstFrameMs(int width, int height)
{
    Arrivals arrivals;
    Clock::time_point start = Clock::now();
    GstSession session(testPattern(width, height), arrivals);
    if (!session.start())
        return -1;
    while (arrivals.times().empty() && Clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<Clock::time_point> times = arrivals.times();
    return times.empty() ? -1 : ms(times.front() - start);
}

struct Gaps {
    double steady = 0, atStart = 0, atStop = 0;
    uint32_t recorded = 0;
};

Gaps gapsAroundARecording(const QString& file)
{
    Arrivals arrivals;
    GstSession session(testPattern(640, 480), arrivals);
    Gaps gaps;
    if (!session.start())
        return gaps;
    auto wait = [](int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); };
    wait(1000);
    Clock::time_point quiet = Clock::now();
    wait(1000);
    RecordingRequest request;
    request.file = file;
    request.parms.dwRequestMicroSecPerFrame = 33333;
    Clock::time_point started = Clock::now();
    session.startRecording(request);
    wait(2000);
    Clock::time_point stopping = Clock::now();
    session.stopRecording();
    gaps.recorded = session.progress().frames;
    wait(1000);
    std::vector<Clock::time_point> times = arrivals.times();
    gaps.steady = largestGap(times, quiet, started - std::chrono::milliseconds(100));
    gaps.atStart = largestGap(times, started, started + std::chrono::milliseconds(1000));
    gaps.atStop = largestGap(times, stopping, stopping + std::chrono::milliseconds(1000));
    return gaps;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!EnsureGstreamer())
        return 1;
    QTemporaryDir dir;
    std::printf("Live picture benchmark, test pattern at 30 frames/s (frame interval %.1f ms)\n", FrameIntervalMs);
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        std::vector<double> runs;
        for (int i = 0; i < 5; ++i)
            runs.push_back(firstFrameMs(w, h));
        std::printf("connect to first live frame, %d x %d: median %.0f ms, max %.0f ms of 5 (target < 300)\n", w, h,
                    median(runs), *std::max_element(runs.begin(), runs.end()));
    }
    std::vector<double> steady, atStart, atStop;
    for (int i = 0; i < 5; ++i) {
        Gaps g = gapsAroundARecording(dir.filePath(QString("gap%1.avi").arg(i)));
        steady.push_back(g.steady);
        atStart.push_back(g.atStart);
        atStop.push_back(g.atStop);
        std::printf("  run %d: largest gap %.1f ms steady, %.1f ms at the start, %.1f ms at the stop; "
                    "%u frames recorded in 2 s\n",
                    i + 1, g.steady, g.atStart, g.atStop, g.recorded);
    }
    std::printf("largest gap between live frames, median (max) of 5 runs: %.1f (%.1f) ms around the start, "
                "%.1f (%.1f) ms around the stop of a recording; baseline without a recording %.1f (%.1f) ms "
                "(target <= %.1f ms, 2 frame intervals)\n",
                median(atStart), *std::max_element(atStart.begin(), atStart.end()), median(atStop),
                *std::max_element(atStop.begin(), atStop.end()), median(steady),
                *std::max_element(steady.begin(), steady.end()), 2 * FrameIntervalMs);
    return 0;
}
