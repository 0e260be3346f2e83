#pragma once
// DirectShow helpers shared by the Windows capture devices and player: COM
// pointers and apartments (ComApartment.h), DirectShow's error texts, and the picture
// grabber that hands each decoded or captured picture over as a QImage.

#include "media/ComApartment.h"

#include <QImage>
#include <QSize>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <string>

namespace tarvelo {

using Microsoft::WRL::ComPtr;

// "what: DirectShow's reason (0x8004...)".
std::string DirectShowText(const char* what, HRESULT result);

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted);

// Hands each picture that passes the grabber filter over, as RGB32, on
// DirectShow's streaming thread. Lives as long as the graph it is added to;
// `release` lets go of the grabber's hold and waits for the handler to be
// left.
class PictureGrabber final : public ISampleGrabberCB {
public:
    explicit PictureGrabber(std::function<void(const QImage&, double seconds)> onPicture);

    // Adds the grabber filter, taking pictures as 24-bit RGB, to `graph`.
    HRESULT addTo(IGraphBuilder* graph, ComPtr<IBaseFilter>& filter);
    // Once its input is connected: the picture size, and pictures start.
    HRESULT start();
    void release();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double seconds, BYTE* buffer, long length) override;

    QSize size() const { return size_; }

private:
    std::function<void(const QImage&, double)> onPicture_;
    ComPtr<ISampleGrabber> grabber_;
    QSize size_;
    bool bottomUp_ = true;
    std::atomic<int> inCallback_{0};
};

}  // namespace tarvelo
