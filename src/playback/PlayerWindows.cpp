// The player of the Windows build: a DirectShow graph from the file's
// source through the machine's decoders to a sample grabber, which hands
// each picture over as RGB32, and a null renderer, which keeps the pictures
// to their times. The sound streams go to the default output. Pictures are
// handed over exactly as the Linux player does, so the window draws them
// the same way.

#include "playback/Player.h"

#include "framework/Log.h"
#include "media/DirectShowSupport.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <vector>

extern "C" const CLSID CLSID_NullRenderer;

namespace tarvelo {

namespace {

constexpr LONGLONG UnitsPerMs = 10000;  // DirectShow counts time in 100 ns
constexpr DWORD StateWaitMs = 5000;

void check(HRESULT result, const char* what)
{
    if (FAILED(result))
        throw PlayerError(DirectShowText(what, result));
}

std::vector<ComPtr<IPin>> unconnectedOutputs(IBaseFilter* filter)
{
    std::vector<ComPtr<IPin>> found;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)))
        return found;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
            pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED)
            found.push_back(pin);
    }
    return found;
}

}  // namespace

struct Player::Pipeline {
    explicit Pipeline(Player& player)
        : grabber([&player](const QImage& picture, double) {
              if (player.onPicture)
                  player.onPicture(picture);
          })
    {
    }
    void build(const QString& file);
    void renderTheRest();
    void waitForState() const
    {
        OAFilterState state;
        control->GetState(StateWaitMs, &state);
    }

    ComApartment com;  // first: it outlives every interface below
    PictureGrabber grabber;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaSeeking> seeking;
};

// The file's video must reach the grabber through whatever decoder the
// machine has: a file that cannot is refused with DirectShow's reason.
void Player::Pipeline::build(const QString& file)
{
    check(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                           reinterpret_cast<void**>(graph.GetAddressOf())),
          "DirectShow has no filter graph");
    ComPtr<IBaseFilter> grabberFilter, nullRenderer;
    check(grabber.addTo(graph.Get(), grabberFilter), "DirectShow has no sample grabber");
    check(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           reinterpret_cast<void**>(nullRenderer.GetAddressOf())),
          "DirectShow has no null renderer");
    check(graph->AddFilter(nullRenderer.Get(), L"timing"), "the null renderer");

    ComPtr<IBaseFilter> source;
    std::wstring path = QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()).toStdWString();
    check(graph->AddSourceFilter(path.c_str(), L"file", &source), "cannot open the file");
    ComPtr<IPin> sourceOut = FirstPin(source.Get(), PINDIR_OUTPUT);
    if (!sourceOut)
        throw PlayerError("the file holds nothing to play");
    check(graph->Connect(sourceOut.Get(), FirstPin(grabberFilter.Get(), PINDIR_INPUT).Get()), "cannot play the video");
    check(graph->Connect(FirstPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(), FirstPin(nullRenderer.Get(), PINDIR_INPUT).Get()),
          "cannot play the video");
    check(grabber.start(), "the sample grabber");
    renderTheRest();
    check(graph.As(&control), "the filter graph");
    check(graph.As(&seeking), "the filter graph");
}

// The other streams (the sound) go to the default renderers; a stream that
// cannot, for want of a decoder or of a sound device, is left silent.
void Player::Pipeline::renderTheRest()
{
    std::vector<ComPtr<IPin>> open;
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(graph->EnumFilters(&filters)))
        while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK)
            for (ComPtr<IPin>& pin : unconnectedOutputs(filter.Get()))
                open.push_back(pin);
    for (ComPtr<IPin>& pin : open)
        if (HRESULT result = graph->Render(pin.Get()); FAILED(result))
            logLine("playback", DirectShowText("a stream is left out", result));
}

Player::Player() = default;

Player::~Player()
{
    close();
}

void Player::open(const QString& file)
{
    close();
    auto pipeline = std::make_unique<Pipeline>(*this);
    pipeline->build(file);
    LONGLONG length = 0;
    pipeline->seeking->GetDuration(&length);
    pipeline->control->Pause();  // the first picture comes as the graph cues
    pipeline->waitForState();
    lengthMs_ = std::max<LONGLONG>(0, length / UnitsPerMs);
    pipeline_ = std::move(pipeline);
}

// Waits for the streaming threads to leave the picture handler, so none
// runs once the file is closed.
void Player::close()
{
    if (!pipeline_)
        return;
    pipeline_->control->Stop();
    pipeline_->grabber.release();
    pipeline_.reset();
    lengthMs_ = 0;
}

void Player::play()
{
    if (pipeline_) {
        pipeline_->control->Run();
        pipeline_->waitForState();
    }
}

void Player::pause()
{
    if (pipeline_) {
        pipeline_->control->Pause();
        pipeline_->waitForState();
    }
}

// A move while paused cues the picture at the new place, which the grabber
// hands over.
void Player::seekTo(int64_t ms)
{
    if (!pipeline_)
        return;
    LONGLONG at = std::clamp<int64_t>(ms, 0, lengthMs_) * UnitsPerMs;
    pipeline_->seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    pipeline_->waitForState();
}

int64_t Player::positionMs() const
{
    LONGLONG at = 0;
    if (!pipeline_ || FAILED(pipeline_->seeking->GetCurrentPosition(&at)))
        return 0;
    return at / UnitsPerMs;
}

bool Player::playing() const
{
    OAFilterState state = State_Stopped;
    return pipeline_ && SUCCEEDED(pipeline_->control->GetState(0, &state)) && state == State_Running;
}

}  // namespace tarvelo
