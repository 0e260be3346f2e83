// The player of the Windows build: a DirectShow graph from the file's
// source through the machine's decoders to a sample grabber, which hands
// each picture over as RGB32, and a null renderer, which keeps the pictures
// to their times. The sound streams go to the default output. Pictures are
// handed over exactly as the Linux player does, so the window draws them
// the same way.

#include "playback/Player.h"

#include "framework/Log.h"
#include "framework/WindowsError.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>
#include <dshow.h>
#include <errors.h>
#include <qedit.h>
#include <wrl/client.h>

#include <algorithm>
#include <thread>
#include <vector>

extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace tarvelo {

using Microsoft::WRL::ComPtr;

namespace {

constexpr LONGLONG UnitsPerMs = 10000;  // DirectShow counts time in 100 ns
constexpr DWORD StateWaitMs = 5000;

// DirectShow's own text where it has one; Wine's says only the number.
std::string directShowText(const char* what, HRESULT result)
{
    wchar_t text[MAX_ERROR_TEXT_LEN] = {};
    AMGetErrorTextW(result, text, MAX_ERROR_TEXT_LEN);
    std::string said = QString::fromWCharArray(text).trimmed().toStdString();
    if (said.empty() || said.rfind("Error: 0x", 0) == 0) {
        if (HRESULT_FACILITY(result) == FACILITY_WIN32)
            return std::string(what) + ": " + windowsErrorText(HRESULT_CODE(result));
        switch (result) {
        case VFW_E_CANNOT_RENDER:
        case VFW_E_CANNOT_CONNECT:
        case VFW_E_NO_ACCEPTABLE_TYPES:
            said = "no decoder here takes this stream";
            break;
        case VFW_E_UNSUPPORTED_STREAM:
        case VFW_E_UNKNOWN_FILE_TYPE:
        case VFW_E_INVALID_FILE_FORMAT:
            said = "the file is not of a kind DirectShow reads";
            break;
        default:
            said = "DirectShow error";
        }
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
    return std::string(what) + ": " + said + " (" + code + ")";
}

void check(HRESULT result, const char* what)
{
    if (FAILED(result))
        throw PlayerError(directShowText(what, result));
}

// The player is driven from the window's thread, which the toolkit has
// made a single-threaded apartment already; a host thread without one gets
// it for as long as a file is open.
class ComApartment {
public:
    ComApartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

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

ComPtr<IPin> firstPin(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    if (FAILED(filter->EnumPins(&pins)))
        return nullptr;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted)
            return pin;
    }
    return nullptr;
}

template <class T>
ComPtr<T> make(const CLSID& clsid, const char* what)
{
    ComPtr<T> made;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), reinterpret_cast<void**>(made.GetAddressOf())),
          what);
    return made;
}

}  // namespace

// The grabber's callback lives as long as the pipeline, which lets go of
// the grabber's hold on it before it goes.
struct Player::Callbacks final : public ISampleGrabberCB {
    explicit Callbacks(Player& player) : player_(player) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
            *object = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double, BYTE* buffer, long length) override;

    Player& player_;
    QSize size_;
    bool bottomUp_ = true;
};

// Each picture, on DirectShow's streaming thread.
STDMETHODIMP Player::Callbacks::BufferCB(double, BYTE* buffer, long length)
{
    player_.inCallback_.fetch_add(1, std::memory_order_acquire);
    const int stride = (size_.width() * 3 + 3) & ~3;
    const qsizetype bytes = qsizetype(stride) * size_.height();
    if (buffer && length >= bytes && bytes > 0 && player_.onPicture) {
        catchAndLog("playback", [&] {
            QImage picture(buffer, size_.width(), size_.height(), stride, QImage::Format_BGR888);
            player_.onPicture((bottomUp_ ? picture.mirrored(false, true) : picture).convertToFormat(QImage::Format_RGB32));
        });
    }
    player_.inCallback_.fetch_sub(1, std::memory_order_release);
    return S_OK;
}

struct Player::Pipeline {
    explicit Pipeline(Player& player) : callbacks(player) {}
    void build(const QString& file);
    void renderTheRest();
    void waitForState() const
    {
        OAFilterState state;
        control->GetState(StateWaitMs, &state);
    }

    ComApartment com;  // first: it outlives every interface below
    Callbacks callbacks;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaSeeking> seeking;
    ComPtr<ISampleGrabber> grabber;
};

// The file's video must reach the grabber through whatever decoder the
// machine has: a file that cannot is refused with DirectShow's reason.
void Player::Pipeline::build(const QString& file)
{
    graph = make<IGraphBuilder>(CLSID_FilterGraph, "DirectShow has no filter graph");
    auto grabberFilter = make<IBaseFilter>(CLSID_SampleGrabber, "DirectShow has no sample grabber");
    auto nullRenderer = make<IBaseFilter>(CLSID_NullRenderer, "DirectShow has no null renderer");
    check(grabberFilter.As(&grabber), "the sample grabber");
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    check(grabber->SetMediaType(&wanted), "the sample grabber");
    check(graph->AddFilter(grabberFilter.Get(), L"pictures"), "the sample grabber");
    check(graph->AddFilter(nullRenderer.Get(), L"timing"), "the null renderer");

    ComPtr<IBaseFilter> source;
    std::wstring path = QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath()).toStdWString();
    check(graph->AddSourceFilter(path.c_str(), L"file", &source), "cannot open the file");
    ComPtr<IPin> sourceOut = firstPin(source.Get(), PINDIR_OUTPUT);
    if (!sourceOut)
        throw PlayerError("the file holds nothing to play");
    check(graph->Connect(sourceOut.Get(), firstPin(grabberFilter.Get(), PINDIR_INPUT).Get()), "cannot play the video");
    check(graph->Connect(firstPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(), firstPin(nullRenderer.Get(), PINDIR_INPUT).Get()),
          "cannot play the video");

    AM_MEDIA_TYPE connected{};
    check(grabber->GetConnectedMediaType(&connected), "cannot play the video");
    if (connected.formattype == FORMAT_VideoInfo && connected.pbFormat && connected.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const BITMAPINFOHEADER& bitmap = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader;
        callbacks.size_ = QSize(bitmap.biWidth, std::abs(bitmap.biHeight));
        callbacks.bottomUp_ = bitmap.biHeight > 0;
    }
    CoTaskMemFree(connected.pbFormat);
    if (connected.pUnk)
        connected.pUnk->Release();
    check(grabber->SetBufferSamples(FALSE), "the sample grabber");
    check(grabber->SetOneShot(FALSE), "the sample grabber");
    check(grabber->SetCallback(&callbacks, 1), "the sample grabber");
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
            logLine("playback", directShowText("a stream is left out", result));
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
    pipeline_->grabber->SetCallback(nullptr, 1);
    while (inCallback_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
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
