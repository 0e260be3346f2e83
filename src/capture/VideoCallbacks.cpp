// The capture service's callbacks, routed to the handlers of the component
// whose window calls.
#include "capture/Video.h"

#include "framework/ErrorGuard.h"

namespace tarvelo {

template <typename Handler, typename Procedure>
void TVideoCap::assignHandler(Handler TVideoCap::*slot, Handler handler,
                              bool (CaptureService::*install)(HCAPWND, Procedure), Procedure procedure)
{
    bool assigned = bool(handler);
    {
        std::lock_guard lock(handlersMutex_);
        this->*slot = std::move(handler);
    }
    if (DriverOpen())
        (service_.*install)(CaptureWindow, assigned ? procedure : nullptr);
}

void TVideoCap::setOnStatusCallback(TCapStatusCallback handler)
{
    assignHandler(&TVideoCap::onStatusCallback_, std::move(handler), &CaptureService::capSetCallbackOnStatus,
                  CAPSTATUSCALLBACK(StatusCallbackProc));
}

void TVideoCap::setOnFrameCallback(TVideoStream handler)
{
    assignHandler(&TVideoCap::onFrameCallback_, std::move(handler), &CaptureService::capSetCallbackOnFrame,
                  CAPVIDEOCALLBACK(FrameCallbackProc));
}

void TVideoCap::setOnVideoStream(TVideoStream handler)
{
    assignHandler(&TVideoCap::onVideoStream_, std::move(handler), &CaptureService::capSetCallbackOnVideoStream,
                  CAPVIDEOCALLBACK(VideoStreamCallbackProc));
}

void TVideoCap::setOnAudioStream(TAudioStream handler)
{
    assignHandler(&TVideoCap::onAudioStream_, std::move(handler), &CaptureService::capSetCallbackOnWaveStream,
                  CAPWAVECALLBACK(WaveStreamCallbackProc));
}

// The component whose capture window calls (the window is its child, made
// for it by whichever service it was given), and a copy of its handler,
// taken under the lock and called outside it, so a handler may itself
// assign handlers. Null when there is no component.
template <typename Handler>
TVideoCap* TVideoCap::handlerOf(HCAPWND window, Handler TVideoCap::*slot, Handler& handler)
{
    auto* self = window ? qobject_cast<TVideoCap*>(window->parentWidget()) : nullptr;
    if (self) {
        std::lock_guard lock(self->handlersMutex_);
        handler = self->*slot;
    }
    return self;
}

int32_t TVideoCap::StatusCallbackProc(HCAPWND window, int32_t id, const char* text)
{
    TCapStatusCallback handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onStatusCallback_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, id, text ? QString::fromLocal8Bit(text) : QString()); });
    return 1;
}

int32_t TVideoCap::FrameCallbackProc(HCAPWND window, VIDEOHDR* header)
{
    TVideoStream handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onFrameCallback_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, header); });
    return 1;
}

int32_t TVideoCap::VideoStreamCallbackProc(HCAPWND window, VIDEOHDR* header)
{
    TVideoStream handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onVideoStream_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, header); });
    return 1;
}

int32_t TVideoCap::WaveStreamCallbackProc(HCAPWND window, WAVEHDR* header)
{
    TAudioStream handler;
    if (TVideoCap* self = handlerOf(window, &TVideoCap::onAudioStream_, handler); self && handler)
        guardedHandler("capture", [&] { handler(self, header); });
    return 1;
}

}  // namespace tarvelo
