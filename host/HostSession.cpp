#include "HostSession.h"

#include "framework/GbkText.h"

#include <QLibrary>
#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {
namespace {

std::function<void(const QString&)> reportListener;

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
    if (reportListener)
        reportListener(line);
}

// The host program itself is the module that exports the services.
void* thisProgram()
{
#ifdef _WIN32
    return GetModuleHandleW(nullptr);
#else
    static void* const self = dlopen(nullptr, RTLD_NOW);
    return self;
#endif
}

template <typename Function>
bool resolve(QLibrary& library, const char* name, Function& slot)
{
    slot = reinterpret_cast<Function>(library.resolve(name));
    if (!slot)
        say(QStringLiteral("host: the library does not export %1").arg(QLatin1String(name)));
    return slot != nullptr;
}

const char* yesNo(bool value)
{
    return value ? "true" : "false";
}

}  // namespace

void setReportListener(std::function<void(const QString&)> listener)
{
    reportListener = std::move(listener);
}

HostSession::HostSession(Options options) : options_(std::move(options)) {}

HostSession::~HostSession()
{
    unload();
}

bool HostSession::load()
{
    if (loaded())
        return true;
#ifdef TARVELO_LINKED_IN
    if (options_.libraryPath.isEmpty()) {
        exports_ = {&Frame_Init,       &Frame_SetAdoString,    &Frame_SetParam,
                    &Frame_ExecFunc,   &Frame_FreeChild,       &Frame_FreeAll,
                    &Video_SwitchToTV, &Video_SwitchToMonitor, &Video_CapturePicture};
        linkedIn_ = true;
        say(QStringLiteral("host: the library is linked into this program"));
        return true;
    }
#endif
    auto library = std::make_unique<QLibrary>(options_.libraryPath);
    library->setLoadHints(QLibrary::ResolveAllSymbolsHint);
    if (!library->load()) {
        say(QStringLiteral("host: cannot load %1: %2").arg(options_.libraryPath, library->errorString()));
        return false;
    }
    library_ = std::move(library);
    bool ok = resolve(*library_, "Frame_Init", exports_.init) &
              resolve(*library_, "Frame_SetAdoString", exports_.setAdoString) &
              resolve(*library_, "Frame_SetParam", exports_.setParam) &
              resolve(*library_, "Frame_ExecFunc", exports_.execFunc) &
              resolve(*library_, "Frame_FreeChild", exports_.freeChild) &
              resolve(*library_, "Frame_FreeAll", exports_.freeAll) &
              resolve(*library_, "Video_SwitchToTV", exports_.switchToTV) &
              resolve(*library_, "Video_SwitchToMonitor", exports_.switchToMonitor) &
              resolve(*library_, "Video_CapturePicture", exports_.capturePicture);
    if (!ok) {
        unload();
        return false;
    }
    say(QStringLiteral("host: loaded %1").arg(options_.libraryPath));
    return true;
}

void HostSession::unload()
{
    if (!loaded())
        return;
    if (library_)
        library_->unload();
    library_.reset();
    linkedIn_ = false;
    exports_ = Exports{};
    say(QStringLiteral("host: unloaded the library"));
}

QStringList HostSession::stepNames()
{
    return {"Frame_Init", "Frame_SetAdoString", "Frame_SetParam", "Frame_ExecFunc",
            "Frame_FreeChild", "Frame_FreeAll", "Video_SwitchToTV", "Video_SwitchToMonitor",
            "Video_CapturePicture", "load", "unload"};
}

bool HostSession::runStep(const QString& step)
{
    QString name = step.section('=', 0, 0);
    QString argument = step.section('=', 1);
    if (name == "load")
        return load();
    if (name == "unload") {
        unload();
        return true;
    }
    if (!loaded() && !load())
        return false;
    return call(name, argument);
}

bool HostSession::call(const QString& name, const QString& argument)
{
    if (name == "Frame_Init") {
        bool found = exports_.init(options_.appWindow, 0, thisProgram(), 0);
        say(QStringLiteral("Frame_Init -> %1").arg(yesNo(found)));
    } else if (name == "Frame_SetAdoString") {
        std::string ado = tarvelo::toGbk(argument.isEmpty() ? options_.adoString : argument);
        exports_.setAdoString(ado.c_str());
        say(QStringLiteral("Frame_SetAdoString done"));
    } else if (name == "Frame_SetParam") {
        QString op = argument.isEmpty() ? options_.operatorName : argument.section(',', 0, 0);
        QString extra = argument.isEmpty() ? options_.extraParam : argument.section(',', 1);
        std::string opGbk = tarvelo::toGbk(op), extraGbk = tarvelo::toGbk(extra);
        exports_.setParam(opGbk.c_str(), extraGbk.c_str());
        say(QStringLiteral("Frame_SetParam done"));
    } else if (name == "Frame_ExecFunc") {
        exports_.execFunc(argument.toInt());
        say(QStringLiteral("Frame_ExecFunc(%1) done").arg(argument.toInt()));
    } else if (name == "Frame_FreeChild") {
        exports_.freeChild();
        say(QStringLiteral("Frame_FreeChild done"));
    } else if (name == "Frame_FreeAll") {
        say(QStringLiteral("Frame_FreeAll -> %1").arg(yesNo(exports_.freeAll())));
    } else if (name == "Video_SwitchToTV") {
        exports_.switchToTV(argument.toInt());
        say(QStringLiteral("Video_SwitchToTV(%1) done").arg(argument.toInt()));
    } else if (name == "Video_SwitchToMonitor") {
        exports_.switchToMonitor(argument.toInt());
        say(QStringLiteral("Video_SwitchToMonitor(%1) done").arg(argument.toInt()));
    } else if (name == "Video_CapturePicture") {
        exports_.capturePicture();
        say(QStringLiteral("Video_CapturePicture done"));
    } else {
        say(QStringLiteral("host: unknown step %1").arg(name));
        return false;
    }
    return true;
}

}  // namespace host
