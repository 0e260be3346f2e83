// The exports' own logic, with stand-in windows in place of the real ones.

#include "framework/Application.h"
#include "plugin/FrameImport.h"
#include "plugin/LibraryState.h"
#include "support/TempDir.h"
#include "tarvelo.h"

#include <QStringList>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace tarvelo;

namespace {

QStringList calls;  // what the stand-in windows were asked to do, in order

class FakeConsole : public ConsoleWindow {
public:
    FakeConsole() { calls << "create"; }
    ~FakeConsole() override { calls << "destroy"; }
    void ApplyParam(const QString& op, const QString& extra) override
    {
        calls << "ApplyParam(" + op + "," + extra + ")";
    }
    void SwitchToMonitor(int32_t c) override { calls << QString("SwitchToMonitor(%1)").arg(c); }
    void SwitchToTV(int32_t c) override { calls << QString("SwitchToTV(%1)").arg(c); }
    void SnapshotFromHost() override { calls << "SnapshotFromHost"; }
    void showConsole() override { calls << "show"; }
    void hideConsole() override { calls << "hide"; }
};

class FakeModal : public ModalWindow {
public:
    FakeModal(QString name, ModalWindow*& reference, bool fail)
        : name_(std::move(name)), reference_(reference), fail_(fail) {}
    ~FakeModal() override { calls << "destroy " + name_; }
    void runModal() override
    {
        calls << QString("run %1, referenced %2").arg(name_).arg(reference_ == this);
        if (fail_)
            throw std::runtime_error("modal failure");
    }

private:
    QString name_;
    ModalWindow*& reference_;
    bool fail_;
};

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        qputenv("TARVELO_MESSAGE_LOG", messages.toLocal8Bit());
        LibraryState& lib = library();
        lib.factories.console = [] { return std::make_unique<FakeConsole>(); };
        lib.factories.queryPictures = [this] {
            return std::make_unique<FakeModal>("query", library().fmQueryPic, failModal);
        };
        lib.factories.playback = [this] {
            return std::make_unique<FakeModal>("playback", library().fmPlayAVI, failModal);
        };
    }

    void TearDown() override
    {
        ResetLibraryState();
        library().factories = {};
        qunsetenv("TARVELO_MESSAGE_LOG");
    }

    QStringList reportedMessages() const
    {
        return QString::fromUtf8(test::readBytes(messages)).split('\n', Qt::SkipEmptyParts);
    }

    test::TempWorkDir dir;
    QString messages = dir.file("messages.log");
    bool failModal = false;
};

}  // namespace

TEST_F(ExportsTest, ConsoleIsCreatedOnceAndShownAgain)
{
    Frame_SetParam("\xD5\xC5\xC8\xFD", "x");  // 张三 in GBK
    EXPECT_TRUE(calls.isEmpty()) << "parameters wait for the console";
    Frame_ExecFunc(1);
    Frame_ExecFunc(1);
    EXPECT_EQ(calls, QStringList({"create", QStringLiteral("ApplyParam(张三,x)"), "show", "show"}));
}

TEST_F(ExportsTest, ParametersReachAnExistingConsoleAtOnce)
{
    Frame_ExecFunc(1);
    calls.clear();
    Frame_SetParam(nullptr, nullptr);
    Frame_SetParam("op", "\xFF");
    EXPECT_EQ(calls, QStringList({"ApplyParam(,)", QString("ApplyParam(op,") + QChar(0xFFFD) + ")"}));
}

TEST_F(ExportsTest, VideoExportsCreateTheConsoleWhenNeeded)
{
    Video_SwitchToTV(5);
    EXPECT_EQ(calls, QStringList({"create", "ApplyParam(,)", "SwitchToTV(5)"})) << "stays hidden";
    calls.clear();
    Video_CapturePicture();
    Video_SwitchToMonitor(12);
    EXPECT_EQ(calls, QStringList({"SnapshotFromHost", "show", "SwitchToMonitor(12)"}));
}

TEST_F(ExportsTest, FreeChildHidesAndFreeAllDestroys)
{
    Frame_FreeChild();
    EXPECT_TRUE(Frame_FreeAll());
    EXPECT_TRUE(calls.isEmpty()) << "nothing to hide or destroy";
    Frame_ExecFunc(1);
    Frame_FreeChild();
    EXPECT_NE(library().fmVideo, nullptr);
    EXPECT_TRUE(Frame_FreeAll());
    EXPECT_EQ(library().fmVideo, nullptr);
    Frame_ExecFunc(1);
    EXPECT_EQ(calls, QStringList({"create", "ApplyParam(,)", "show", "hide", "destroy", "create",
                                  "ApplyParam(,)", "show"}));
}

TEST_F(ExportsTest, OtherFunctionNumbersDoNothing)
{
    for (int32_t n : {0, 4, -1, INT32_MAX})
        Frame_ExecFunc(n);
    EXPECT_TRUE(calls.isEmpty());
}

TEST_F(ExportsTest, ModalWindowsLiveForOneRunEvenWhenItFails)
{
    Frame_ExecFunc(2);
    Frame_ExecFunc(3);
    failModal = true;
    Frame_ExecFunc(2);
    EXPECT_EQ(calls, QStringList({"run query, referenced 1", "destroy query",
                                  "run playback, referenced 1", "destroy playback",
                                  "run query, referenced 1", "destroy query"}));
    EXPECT_EQ(library().fmQueryPic, nullptr);
    EXPECT_EQ(reportedMessages(), QStringList({"modal failure"})) << "the error reaches the user, not the host";
}

TEST_F(ExportsTest, NoConsoleIsBuiltWhileThereIsNone)
{
    library().factories = {};
    Frame_ExecFunc(1);
    Frame_ExecFunc(2);
    Video_SwitchToTV(1);
    Video_SwitchToMonitor(1);
    Video_CapturePicture();
    EXPECT_EQ(library().fmVideo, nullptr);
}

TEST_F(ExportsTest, HostServicesAndTheRightAnswer)
{
    void* host = dlopen(HOST_ALL, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(host, nullptr) << dlerror();
    qputenv("TARVELO_TEST_WORK_PATH", "D:\\Work");
    EXPECT_TRUE(Frame_Init(0x51, 0, host, 0));
    EXPECT_EQ(Application::ownerWindow(), 0x51u);
    EXPECT_EQ(HostWorkPath(), "D:\\Work");
    qunsetenv("TARVELO_TEST_WORK_PATH");
    EXPECT_TRUE(ImportHostServices(host)) << "a null work path still counts as found";
    EXPECT_EQ(HostWorkPath(), "");
    for (auto [answer, granted] : {std::pair{"1", true}, {"2", false}, {"-1", false}, {"0", false}}) {
        qputenv("TARVELO_TEST_RIGHT", answer);
        EXPECT_EQ(HostGrantsRight(5), granted) << answer;
    }
    qunsetenv("TARVELO_TEST_RIGHT");
    EXPECT_FALSE(Frame_Init(0, 0, nullptr, 0));
    EXPECT_FALSE(HostGrantsRight(5)) << "a host without Frame_HaveRight grants nothing";
    EXPECT_EQ(reportedMessages().size(), 6);
    ClearHostImport();
    dlclose(host);
}
