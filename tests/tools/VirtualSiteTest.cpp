// The cameras behind the virtual matrix: what the site file says as
// cameras are switched and heads are held, on a clock the test moves.

#include "MatrixDecoder.h"
#include "VirtualSite.h"
#include "support/PseudoTerminal.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace matrixsim;
using namespace tarvelo;
using namespace std::chrono_literals;

namespace {

class VirtualSiteTest : public ::testing::Test {
protected:
    // Feeds the matrix's line at `at` seconds of the test's clock.
    void send(const std::string& bytes, double at)
    {
        for (const MatrixEvent& e : decoder.feed(bytes))
            site.apply(e, clock(at));
    }
    static VirtualSite::Clock::time_point clock(double at)
    {
        return Start + std::chrono::duration_cast<VirtualSite::Clock::duration>(std::chrono::duration<double>(at));
    }
    SiteView file() const { return ReadSiteView(path).value_or(SiteView{-1, 0, 0, 1}); }

    static inline const VirtualSite::Clock::time_point Start{};
    test::PortsDir dir;
    std::string path = dir.path() + "/site";
    MatrixDecoder decoder;
    VirtualSite site{path, 1, clock(0)};
};

}  // namespace

TEST_F(VirtualSiteTest, TheLocalMonitorsCameraIsWhatTheFileShows)
{
    EXPECT_EQ(file(), (SiteView{1, 0, 0, 1})) << "monitor 1 starts on camera 1";
    send("2Ma5#a", 0.1);
    EXPECT_EQ(file().camera, 1) << "another monitor";
    send("1Ma12#a", 0.2);
    EXPECT_EQ(file().camera, 12);
}

TEST_F(VirtualSiteTest, AHeldHeadMovesUntilReleasedAndEachCameraKeepsItsPlace)
{
    send("1Ma3#a1Ra", 0);
    site.advance(clock(1));
    EXPECT_NEAR(file().pan, 0.25, 0.001);
    EXPECT_TRUE(site.moving());
    send("0Ra", 2);
    site.advance(clock(5));
    EXPECT_NEAR(file().pan, 0.5, 0.001) << "released after two seconds";
    EXPECT_FALSE(site.moving());

    send("1Ma7#a", 6);
    EXPECT_EQ(file(), (SiteView{7, 0, 0, 1}));
    send("1Ta1Ua", 6);
    send("0Ta0Ua", 7);
    EXPECT_NEAR(file().zoom, 1.8, 0.001);
    EXPECT_NEAR(file().tilt, -0.15, 0.001);
    send("1Ma3#a", 8);
    EXPECT_NEAR(file().pan, 0.5, 0.001) << "camera 3 still points where it was left";
}

TEST_F(VirtualSiteTest, HeadsStopAtTheirLimitsAndFocusAndIrisChangeNothing)
{
    send("1La1Wa1Na1Oa", 0);
    site.advance(clock(60));
    EXPECT_EQ(file(), (SiteView{1, -1.5, 0, 1}));
    send("0La0Wa0Na0Oa1Da1Ta", 60);
    site.advance(clock(120));
    EXPECT_EQ(file(), (SiteView{1, -1.5, 1, 6}));
}

TEST(VirtualSite, TheFileGoesWithTheSimulator)
{
    test::PortsDir dir;
    std::string path = dir.path() + "/site";
    {
        VirtualSite site(path, 4, VirtualSite::Clock::now());
        EXPECT_EQ(ReadSiteView(path)->camera, 4);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}
