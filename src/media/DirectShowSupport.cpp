#include "media/DirectShowSupport.h"

#include "framework/Log.h"
#include "framework/WindowsError.h"

#include <QString>
#include <errors.h>

#include <cstdio>
#include <thread>

extern "C" const CLSID CLSID_SampleGrabber;

namespace tarvelo {

// DirectShow's own text where it has one; Wine's says only the number.
std::string DirectShowText(const char* what, HRESULT result)
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

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted)
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

PictureGrabber::PictureGrabber(std::function<void(const QImage&, double)> onPicture)
    : onPicture_(std::move(onPicture))
{
}

HRESULT PictureGrabber::addTo(IGraphBuilder* graph, ComPtr<IBaseFilter>& filter)
{
    HRESULT result = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                      reinterpret_cast<void**>(filter.ReleaseAndGetAddressOf()));
    if (FAILED(result) || FAILED(result = filter.As(&grabber_)))
        return result;
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    if (FAILED(result = grabber_->SetMediaType(&wanted)))
        return result;
    return graph->AddFilter(filter.Get(), L"pictures");
}

HRESULT PictureGrabber::start()
{
    AM_MEDIA_TYPE connected{};
    HRESULT result = grabber_->GetConnectedMediaType(&connected);
    if (FAILED(result))
        return result;
    if (connected.formattype == FORMAT_VideoInfo && connected.pbFormat && connected.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const BITMAPINFOHEADER& bitmap = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat)->bmiHeader;
        size_ = QSize(bitmap.biWidth, std::abs(bitmap.biHeight));
        bottomUp_ = bitmap.biHeight > 0;
    }
    CoTaskMemFree(connected.pbFormat);
    if (connected.pUnk)
        connected.pUnk->Release();
    if (FAILED(result = grabber_->SetBufferSamples(FALSE)) || FAILED(result = grabber_->SetOneShot(FALSE)))
        return result;
    return grabber_->SetCallback(this, 1);
}

void PictureGrabber::release()
{
    if (grabber_)
        grabber_->SetCallback(nullptr, 1);
    while (inCallback_.load(std::memory_order_acquire) != 0)
        std::this_thread::yield();
}

STDMETHODIMP PictureGrabber::QueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// Rows of 24-bit pictures are padded to four bytes; most are bottom-up.
STDMETHODIMP PictureGrabber::BufferCB(double seconds, BYTE* buffer, long length)
{
    inCallback_.fetch_add(1, std::memory_order_acquire);
    const int stride = (size_.width() * 3 + 3) & ~3;
    const qsizetype bytes = qsizetype(stride) * size_.height();
    if (buffer && bytes > 0 && length >= bytes) {
        catchAndLog("directshow", [&] {
            QImage picture(buffer, size_.width(), size_.height(), stride, QImage::Format_BGR888);
            onPicture_((bottomUp_ ? picture.mirrored(false, true) : picture).convertToFormat(QImage::Format_RGB32),
                       seconds);
        });
    }
    inCallback_.fetch_sub(1, std::memory_order_release);
    return S_OK;
}

}  // namespace tarvelo
