#pragma once
// What the exports need of the library's windows. The windows implement
// these; the exports know them only through this surface.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarvelo {

// The video console: one per library, created on first need, hidden rather
// than closed, destroyed by Frame_FreeAll.
class ConsoleWindow {
public:
    virtual ~ConsoleWindow();  // empties fmVideo when it holds this console

    virtual void ApplyParam(const QString& operatorName, const QString& extraParam) = 0;
    virtual void SwitchToMonitor(int32_t camera) = 0;
    virtual void SwitchToTV(int32_t camera) = 0;
    virtual void SnapshotFromHost() = 0;
    virtual void showConsole() = 0;  // also brings a visible console forward
    virtual void hideConsole() = 0;
};

// A window that exists for one modal run.
class ModalWindow {
public:
    virtual ~ModalWindow() = default;
    virtual void runModal() = 0;
};

struct WindowFactories {
    std::function<std::unique_ptr<ConsoleWindow>()> console;
    std::function<std::unique_ptr<ModalWindow>()> queryPictures;
    std::function<std::unique_ptr<ModalWindow>()> playback;
};

}  // namespace tarvelo
