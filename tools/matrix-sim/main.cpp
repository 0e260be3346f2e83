// matrix-sim: a virtual video matrix on a pseudo-terminal. It links the
// port side as DIR/COMn and prints every command it receives, decoded, with
// a time stamp; bytes that are no command are printed raw. With a site
// file (--site, or TARVELO_SITE) it also plays the cameras: the file tells
// the library's test-pattern driver which camera this machine's monitor
// shows and where that camera's head points.

#include "MatrixDecoder.h"
#include "VirtualPort.h"
#include "VirtualSite.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t quit = 0;

void onSignal(int)
{
    quit = 1;
}

std::string timestamp()
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm local{};
    localtime_r(&tv.tv_sec, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min, local.tm_sec,
                  long(tv.tv_usec / 1000));
    return text;
}

// Prints each command and plays it on the site's cameras.
void handle(const std::vector<matrixsim::MatrixEvent>& events, matrixsim::VirtualSite* site)
{
    for (const auto& e : events) {
        std::printf("%s %s\n", timestamp().c_str(), e.describe().c_str());
        if (site)
            site->apply(e, matrixsim::VirtualSite::Clock::now());
    }
    std::fflush(stdout);
}

void printMonitors(const matrixsim::MatrixDecoder& decoder)
{
    std::printf("%s monitors:", timestamp().c_str());
    for (auto [monitor, camera] : decoder.monitors())
        std::printf(" %lld=camera %lld", (long long)monitor, (long long)camera);
    std::printf("\n");
    std::fflush(stdout);
}

int usage()
{
    std::fprintf(stderr, "usage: matrix-sim [--dir DIR] [--port N] [--site FILE] [--local N]\n"
                         "  links a pseudo-terminal as DIR/COMN (default ./ports/COM1);\n"
                         "  run the library with TARVELO_COMPORTS=DIR and serial port N.\n"
                         "  --site FILE (default: $TARVELO_SITE) keeps the camera seen on monitor\n"
                         "  --local N (default 1) in FILE for the library's test pattern.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = "ports";
    int port = 1;
    const char* siteVariable = std::getenv(tarvelo::SiteFileVariable);
    std::string siteFile = siteVariable ? siteVariable : "";
    int64_t localMonitor = 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc)
            dir = argv[++i];
        else if (arg == "--port" && i + 1 < argc)
            port = std::atoi(argv[++i]);
        else if (arg == "--site" && i + 1 < argc)
            siteFile = argv[++i];
        else if (arg == "--local" && i + 1 < argc)
            localMonitor = std::atoll(argv[++i]);
        else
            return usage();
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    try {
        matrixsim::VirtualPort line(dir, port);
        matrixsim::MatrixDecoder decoder;
        std::unique_ptr<matrixsim::VirtualSite> site;
        if (!siteFile.empty())
            site = std::make_unique<matrixsim::VirtualSite>(siteFile, localMonitor,
                                                            matrixsim::VirtualSite::Clock::now());
        std::printf("%s matrix on %s\n", timestamp().c_str(), line.link().c_str());
        std::fflush(stdout);
        while (!quit) {
            pollfd p{line.fd(), POLLIN, 0};
            int ready = poll(&p, 1, site && site->moving() ? 40 : 200);  // a moving head is drawn smoothly
            char buffer[1024];
            ssize_t n = ready > 0 && (p.revents & POLLIN) ? read(line.fd(), buffer, sizeof buffer) : 0;
            if (n > 0)
                handle(decoder.feed(std::string_view(buffer, size_t(n))), site.get());
            else if (ready == 0 && decoder.pending())
                handle(decoder.flush(), site.get());  // a command cut short
            else if (ready > 0 && n <= 0)
                usleep(10000);
            if (site)
                site->advance(matrixsim::VirtualSite::Clock::now());
        }
        printMonitors(decoder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "matrix-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
