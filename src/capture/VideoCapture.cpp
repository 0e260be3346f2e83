// Single frames, recordings and the format dialog.
#include "capture/Video.h"

#include "capture/CaptureErrors.h"

namespace tarvelo {

bool TVideoCap::GrabFrame()
{
    if (!DriverOpen() || !service_.capGrabFrame(CaptureWindow))
        return false;
    UpdateStatus();
    return true;
}

bool TVideoCap::GrabFrameNoStop()
{
    if (!DriverOpen() || !service_.capGrabFrameNoStop(CaptureWindow))
        return false;
    UpdateStatus();
    return true;
}

bool TVideoCap::SaveFrameToFile()
{
    return DriverOpen() && service_.capFileSaveDIB(CaptureWindow, SingleImageFile);
}

bool TVideoCap::StartCapture()
{
    if (!DriverOpen())
        return false;
    CAPTUREPARMS parms;
    service_.capCaptureGetSetup(CaptureWindow, &parms);
    service_.capFileSetCaptureFile(CaptureWindow, VideoFileName);
    parms.dwRequestMicroSecPerFrame = microSecPerFrame_;
    parms.dwIndexSize = capIndexSize_;
    parms.fLimitEnabled = CapTimeLimit != 0;
    parms.wTimeLimit = CapTimeLimit;
    parms.fCaptureAudio = CapAudio ? -1 : 0;
    parms.fMCIControl = 0;
    parms.fYield = -1;
    parms.vKeyAbort = 27;
    parms.fAbortLeftMouse = 0;
    parms.fAbortRightMouse = 0;
    service_.capCaptureSetSetup(CaptureWindow, &parms);
    if (CapAudio)
        CapAudioFormat.ApplyTo(CaptureWindow, service_);
    bool started =
        CapToFile ? service_.capCaptureSequence(CaptureWindow) : service_.capCaptureSequenceNoFile(CaptureWindow);
    UpdateStatus();
    return started;
}

bool TVideoCap::StopCapture()
{
    if (!DriverOpen())
        return false;
    bool stopped = service_.capCaptureStop(CaptureWindow);
    UpdateStatus();
    return stopped;
}

bool TVideoCap::HasVideoFormatDialog()
{
    return ReadDriverCaps() && DriverCaps->fHasDlgVideoFormat != 0;
}

bool TVideoCap::ShowVideoFormatDialog()
{
    if (driverIndex_ == -1)
        return false;
    bool wasOpen = DriverOpen();
    if (!wasOpen)
        OpenDriver();
    bool ok = service_.capDlgVideoFormat(CaptureWindow);
    if (ok)
        UpdateStatus();
    if (!wasOpen)
        CloseDriver();
    if (ok) {
        FitCaptureWindow();
        repaint();
    }
    return ok;
}

}  // namespace tarvelo
