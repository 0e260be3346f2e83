#include "plugin/CompositionRoot.h"

#include "archive/FormQueryPic.h"
#include "capture/device/DriverRegistry.h"
#include "capture/device/SystemDrivers.h"
#include "console/FormVideo.h"
#include "playback/FormPlayAVI.h"
#include "plugin/FrameImport.h"
#include "settings/FormParam.h"

namespace tarvelo {
namespace {

// The video console as the exports see it.
class VideoConsole final : public ConsoleWindow {
public:
    explicit VideoConsole(ConsoleServices services) : form_(std::move(services)) {}

    void ApplyParam(const QString& operatorName, const QString& extraParam) override
    {
        form_.ApplyParam(operatorName, extraParam);
    }
    void SwitchToMonitor(int32_t camera) override { form_.SwitchToMonitor(camera); }
    void SwitchToTV(int32_t camera) override { form_.SwitchToTV(camera); }
    void SnapshotFromHost() override { form_.SnapshotFromHost(); }
    void showConsole() override
    {
        form_.show();
        form_.raise();
        form_.activateWindow();
    }
    void hideConsole() override { form_.hide(); }

private:
    TfmVideo form_;
};

// The picture query window for one modal run.
class PictureQuery final : public ModalWindow {
public:
    explicit PictureQuery(const QString& adoString) : form_(adoString) {}
    void runModal() override { form_.runModal(); }

private:
    TfmQueryPic form_;
};

// The playback window for one modal run.
class Playback final : public ModalWindow {
public:
    void runModal() override { form_.runModal(); }

private:
    TfmPlayAVI form_;
};

std::unique_ptr<ConsoleWindow> makeConsole(const LibraryState& library)
{
    ConsoleServices services;
    services.AdoString = library.AdoString;
    services.HaveRight = HostGrantsRight;
    services.OpenSettings = [] {
        TfmParam fmParam;
        fmParam.exec();
    };
    return std::make_unique<VideoConsole>(std::move(services));
}

// None of the windows knows the exports.
WindowFactories windowFactories(const LibraryState& library)
{
    WindowFactories factories;
    factories.console = [&library] { return makeConsole(library); };
    factories.queryPictures = [&library] { return std::make_unique<PictureQuery>(library.AdoString); };
    factories.playback = [] { return std::make_unique<Playback>(); };
    return factories;
}

}  // namespace

void AssembleLibrary(LibraryState& library)
{
    DriverRegistry::setDriverSource(SystemCaptureDrivers);
    library.factories = windowFactories(library);
}

}  // namespace tarvelo
