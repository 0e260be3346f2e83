#pragma once
// The library as a host sees it: loaded with dlopen, driven through its nine
// exports, one step at a time.

#include "tarvelo.h"

#include <QLibrary>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

namespace host {

struct Exports {
    decltype(&Frame_Init) init = nullptr;
    decltype(&Frame_SetAdoString) setAdoString = nullptr;
    decltype(&Frame_SetParam) setParam = nullptr;
    decltype(&Frame_ExecFunc) execFunc = nullptr;
    decltype(&Frame_FreeChild) freeChild = nullptr;
    decltype(&Frame_FreeAll) freeAll = nullptr;
    decltype(&Video_SwitchToTV) switchToTV = nullptr;
    decltype(&Video_SwitchToMonitor) switchToMonitor = nullptr;
    decltype(&Video_CapturePicture) capturePicture = nullptr;
};

// Where the host's report of each call goes besides standard output.
void setReportListener(std::function<void(const QString&)> listener);

class HostSession {
public:
    struct Options {
        QString libraryPath;
        TarveloWindow appWindow = 0;
        QString adoString;
        QString operatorName;
        QString extraParam;
    };

    explicit HostSession(Options options);
    ~HostSession();

    bool load();
    void unload();
    bool loaded() const { return library_ != nullptr || linkedIn_; }

    // One step of a script: an export name, optionally "=argument", or one of
    // load, unload. Prints what happened; false when the step is
    // unknown or cannot run.
    bool runStep(const QString& step);

    static QStringList stepNames();

    // The window Frame_Init hands over: the library's windows belong to it.
    void setAppWindow(TarveloWindow window) { options_.appWindow = window; }

private:
    bool call(const QString& name, const QString& argument);

    Options options_;
    std::unique_ptr<QLibrary> library_;
    bool linkedIn_ = false;  // the library is part of this program (TARVELO_LINKED_IN)
    Exports exports_;
};

}  // namespace host
