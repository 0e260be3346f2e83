// Video-input devices through DirectShow: the device's capture pin feeds a
// picture grabber (24-bit RGB, converted by the device's driver or
// DirectShow's converters) and a null renderer. Its pictures go the way of
// any other session's: live, grabs, recordings. The sizes the format dialog
// offers are the device's own stream capabilities. The graph's events are
// read on the owner's thread: a device removed (EC_DEVICE_LOST) or a stream
// that stopped on an error makes the source lost, and the graph is built
// again from the device's moniker until it runs.

#include "capture/device/directshow/DirectShowDrivers.h"

#include "capture/device/FrameSession.h"
#include "capture/device/RecordingFile.h"
#include "framework/Log.h"
#include "media/DirectShowSupport.h"

#include <QString>
#include <QTimer>
#include <chrono>

extern "C" const CLSID CLSID_NullRenderer;

namespace tarvelo {
namespace {

constexpr auto EventPoll = std::chrono::milliseconds(250);
constexpr auto ReopenEvery = std::chrono::seconds(2);
constexpr auto StallLimit = std::chrono::seconds(3);

std::string friendlyName(IMoniker* moniker)
{
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(bag.GetAddressOf()))))
        return "video input";
    VARIANT name;
    VariantInit(&name);
    std::string text = "video input";
    if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR)
        text = QString::fromWCharArray(name.bstrVal).toStdString();
    VariantClear(&name);
    return text;
}

VideoMode modeOf(const AM_MEDIA_TYPE& type)
{
    VideoMode mode;
    if (type.formattype == FORMAT_VideoInfo && type.pbFormat && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const BITMAPINFOHEADER& bitmap = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader;
        mode.width = bitmap.biWidth;
        mode.height = std::abs(bitmap.biHeight);
        const DWORD c = bitmap.biCompression;
        mode.format = c == BI_RGB ? "RGB" : std::string{char(c), char(c >> 8), char(c >> 16), char(c >> 24)};
    }
    return mode;
}

void freeMediaType(AM_MEDIA_TYPE* type)
{
    if (!type)
        return;
    CoTaskMemFree(type->pbFormat);
    if (type->pUnk)
        type->pUnk->Release();
    CoTaskMemFree(type);
}

class DirectShowSession final : public FrameSession {
public:
    DirectShowSession(IMoniker* device, FrameSink& sink)
        : FrameSession(sink, OpenAviRecording, OpenWaveIn),
          device_(device),
          grabber_([this](const QImage& picture, double seconds) { deliver(picture, uint32_t(seconds * 1000)); })
    {
        QObject::connect(&poll_, &QTimer::timeout, [this] { pollEvents(); });
    }
    ~DirectShowSession() override
    {
        poll_.stop();
        if (control_)
            control_->Stop();
        grabber_.release();
        stopDelivering();
    }

    bool open(std::string& why);
    bool getCaps(CAPDRIVERCAPS& caps) override
    {
        caps.fHasOverlay = 1;
        caps.fHasDlgVideoFormat = config_ ? 1 : 0;
        caps.fCaptureInitialized = 1;
        return true;
    }
    bool setLive(bool on) override
    {
        live_ = on;
        expectPictures(on);
        return SUCCEEDED(on ? control_->Run() : control_->Stop());
    }
    std::vector<VideoMode> modes() override;
    VideoMode mode() override;
    bool setMode(const VideoMode& mode) override;

    // After open: the graph's events are read from now on.
    void watch()
    {
        expectPictures(false);
        watchForStalls(std::chrono::duration_cast<std::chrono::milliseconds>(StallLimit));
        poll_.start(EventPoll);
    }

private:
    QSize expectedSize() override
    {
        VideoMode m = mode();
        return QSize(m.width, m.height);
    }
    void pollEvents();
    void reopen();
    void tearDown();

    ComApartment com_;
    ComPtr<IMoniker> device_;
    PictureGrabber grabber_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<ICaptureGraphBuilder2> builder_;
    ComPtr<IBaseFilter> source_, grabberFilter_, nullRenderer_;
    ComPtr<IAMStreamConfig> config_;  // null: the device offers no choice
    ComPtr<IMediaControl> control_;
    ComPtr<IMediaEvent> events_;
    QTimer poll_;
    bool live_ = false;
    std::chrono::steady_clock::time_point nextReopen_;
    std::string reopenFailure_;
};

bool DirectShowSession::open(std::string& why)
{
    HRESULT result = device_->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(source_.GetAddressOf()));
    if (SUCCEEDED(result))
        result = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(graph_.GetAddressOf()));
    if (SUCCEEDED(result))
        result = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                  reinterpret_cast<void**>(builder_.GetAddressOf()));
    if (SUCCEEDED(result))
        result = builder_->SetFiltergraph(graph_.Get());
    if (SUCCEEDED(result))
        result = graph_->AddFilter(source_.Get(), L"device");
    if (SUCCEEDED(result))
        result = grabber_.addTo(graph_.Get(), grabberFilter_);
    if (SUCCEEDED(result))
        result = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(nullRenderer_.GetAddressOf()));
    if (SUCCEEDED(result))
        result = graph_->AddFilter(nullRenderer_.Get(), L"timing");
    if (SUCCEEDED(result))
        builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source_.Get(), IID_IAMStreamConfig,
                                reinterpret_cast<void**>(config_.GetAddressOf()));
    if (SUCCEEDED(result))  // through whatever converter the device needs
        result = builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source_.Get(), grabberFilter_.Get(),
                                        nullRenderer_.Get());
    if (SUCCEEDED(result))
        result = grabber_.start();
    if (SUCCEEDED(result))
        result = graph_.As(&control_);
    if (SUCCEEDED(result))
        result = graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events_.ReleaseAndGetAddressOf()));
    if (FAILED(result))
        why = DirectShowText("the device cannot start", result);
    return SUCCEEDED(result);
}

void DirectShowSession::pollEvents()
{
    long code = 0;
    LONG_PTR first = 0, second = 0;
    while (events_ && events_->GetEvent(&code, &first, &second, 0) == S_OK) {
        events_->FreeEventParams(code, first, second);
        if (code == EC_DEVICE_LOST && second == 0)
            sourceLost("the device was removed");
        else if (code == EC_DEVICE_LOST)
            nextReopen_ = {};  // it is back: build the graph at once
        else if (code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED)
            sourceLost(DirectShowText("the stream stopped", HRESULT(first)));
    }
    if (sourceIsLost() && std::chrono::steady_clock::now() >= nextReopen_) {
        nextReopen_ = std::chrono::steady_clock::now() + ReopenEvery;
        reopen();
    }
}

void DirectShowSession::tearDown()
{
    if (control_)
        control_->Stop();
    grabber_.release();
    events_.Reset();
    control_.Reset();
    config_.Reset();
    nullRenderer_.Reset();
    grabberFilter_.Reset();
    builder_.Reset();
    graph_.Reset();
    source_.Reset();
}

// The first picture of the new graph tells the session the source is back.
void DirectShowSession::reopen()
{
    tearDown();
    std::string why;
    if (!open(why)) {
        if (why != reopenFailure_)  // once for each new reason
            logLine("capture", "the device is not back: " + why);
        reopenFailure_ = why;
        return;
    }
    reopenFailure_.clear();
    if (live_ && FAILED(control_->Run()))
        logLine("capture", "the device is back but does not run");
}

std::vector<VideoMode> DirectShowSession::modes()
{
    std::vector<VideoMode> offered;
    int count = 0, size = 0;
    if (!config_ || FAILED(config_->GetNumberOfCapabilities(&count, &size)) || size != sizeof(VIDEO_STREAM_CONFIG_CAPS))
        return offered;
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (SUCCEEDED(config_->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)))) {
            VideoMode m = modeOf(*type);
            if (m.width > 0 && std::find(offered.begin(), offered.end(), m) == offered.end())
                offered.push_back(m);
        }
        freeMediaType(type);
    }
    return offered;
}

VideoMode DirectShowSession::mode()
{
    VideoMode current;
    AM_MEDIA_TYPE* type = nullptr;
    if (config_ && SUCCEEDED(config_->GetFormat(&type)))
        current = modeOf(*type);
    freeMediaType(type);
    if (current.width == 0) {
        QSize size = grabber_.size();
        current = {size.width(), size.height(), "RGB"};
    }
    return current;
}

// The device takes a new format only while nothing streams; its pin then
// reconnects by itself (the grabber takes any size). A format it refuses
// leaves the old one.
bool DirectShowSession::setMode(const VideoMode& wanted)
{
    if (!config_)
        return false;
    AM_MEDIA_TYPE* chosen = nullptr;
    int count = 0, size = 0;
    config_->GetNumberOfCapabilities(&count, &size);
    for (int i = 0; i < count && !chosen && size == sizeof(VIDEO_STREAM_CONFIG_CAPS); ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (SUCCEEDED(config_->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps))) && modeOf(*type) == wanted)
            std::swap(chosen, type);
        freeMediaType(type);
    }
    if (!chosen)
        return false;
    OAFilterState state = State_Stopped;
    control_->GetState(1000, &state);
    control_->Stop();
    grabber_.release();
    HRESULT result = config_->SetFormat(chosen);
    freeMediaType(chosen);
    if (FAILED(result))
        logLine("capture", DirectShowText("the device refuses the format", result));
    forgetNewest();
    if (HRESULT resumed = grabber_.start(); FAILED(resumed))
        logLine("capture", DirectShowText("the device cannot go on", resumed));
    if (state == State_Running)
        control_->Run();
    return SUCCEEDED(result);
}

class DirectShowDriver final : public CaptureDriver {
public:
    DirectShowDriver(ComPtr<IMoniker> device, std::string name) : device_(std::move(device)), name_(std::move(name)) {}
    std::string description() const override { return name_; }
    std::unique_ptr<DriverSession> connect(FrameSink& sink) override
    {
        auto session = std::make_unique<DirectShowSession>(device_.Get(), sink);
        std::string why;
        if (session->open(why)) {
            session->watch();
            return session;
        }
        logLine("capture", name_ + ": " + why);
        return nullptr;
    }

private:
    ComPtr<IMoniker> device_;
    std::string name_;
};

}  // namespace

std::vector<std::shared_ptr<CaptureDriver>> DirectShowCaptureDrivers(int32_t max)
{
    std::vector<std::shared_ptr<CaptureDriver>> drivers;
    ComApartment com;
    ComPtr<ICreateDevEnum> devices;
    ComPtr<IEnumMoniker> inputs;
    HRESULT result = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      reinterpret_cast<void**>(devices.GetAddressOf()));
    if (SUCCEEDED(result))
        result = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &inputs, 0);
    if (result != S_OK) {  // S_FALSE: the category is empty
        if (FAILED(result))
            logLine("capture", DirectShowText("cannot list the video inputs", result));
        return drivers;
    }
    ComPtr<IMoniker> device;
    while (int32_t(drivers.size()) < max && inputs->Next(1, device.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        drivers.push_back(std::make_shared<DirectShowDriver>(device, friendlyName(device.Get())));
    return drivers;
}

}  // namespace tarvelo
