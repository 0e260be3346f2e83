#include "playback/SoundOutput.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <unistd.h>

namespace tarvelo {
namespace {

// A PulseAudio or PipeWire server of this user, or a sound card ALSA can
// play on.
bool soundReachable()
{
    if (!qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        return true;
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR", QStringLiteral("/run/user/%1").arg(getuid()));
    for (const char* socket : {"/pulse/native", "/pipewire-0"})
        if (QFileInfo::exists(runtime + socket))
            return true;
    return !QDir(QStringLiteral("/dev/snd")).entryList({QStringLiteral("pcmC*p")}, QDir::System).isEmpty();
}

}  // namespace

// autoaudiosink tries every output it knows, and on a machine without
// sound ALSA's and OpenAL's libraries write their failures to stderr (and
// leave threads behind): it is asked only where an output is there.
GstElement* MakeSoundOutput()
{
    if (soundReachable())
        if (GstElement* desktop = gst_element_factory_make("autoaudiosink", nullptr))
            return desktop;
    GstElement* silent = gst_element_factory_make("fakesink", nullptr);
    g_object_set(silent, "sync", TRUE, nullptr);
    return silent;
}

}  // namespace tarvelo
