// Recordings other programs made, played by the platform's player: each
// format that plays shows ffmpeg's own pictures at the right places, and
// one that does not is refused with a reason.

#include "playback/Player.h"
#include "support/PictureDifference.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include "media/GstSupport.h"
#include <gst/gst.h>
#endif

using namespace tarvelo;
using namespace tarvelo::test;
using namespace std::chrono_literals;

namespace {

// The recordings and pictures of media.txt. On Linux each is made by ffmpeg
// when first asked for; Wine cannot wait for a Linux program, so there they
// are made beforehand (media.py) into the folder TARVELO_TEST_MEDIA names.
class Media {
public:
    Media() : made_(QDir::tempPath() + "/player-media-XXXXXX"), scratch_(QDir::tempPath() + "/player-work-XXXXXX")
    {
        QFile list(QStringLiteral(TARVELO_MEDIA_LIST));
        EXPECT_TRUE(list.open(QIODevice::ReadOnly)) << TARVELO_MEDIA_LIST;
        for (const QString& line : QString::fromUtf8(list.readAll()).split('\n')) {
            QStringList words = line.split(' ', Qt::SkipEmptyParts);
            if (words.size() >= 2 && !words[0].startsWith('#'))
                entries_.push_back({words[0], words[1], words.mid(2)});
        }
    }
    QStringList formats() const
    {
        QStringList names;
        for (const Entry& e : entries_)
            if (e.kind == "format")
                names << e.name;
        return names;
    }
    QString path(const QString& name)
    {
#ifdef _WIN32
        return qEnvironmentVariable("TARVELO_TEST_MEDIA") + '/' + name;
#else
        QString file = made_.filePath(name);
        if (!QFile::exists(file))
            make(name, file);
        return file;
#endif
    }
    // A copy of its own, for a test that spoils it.
    QString copy(const QString& name, const QString& as)
    {
        QString file = scratch_.filePath(as);
        QFile::remove(file);
        EXPECT_TRUE(QFile::copy(path(name), file));
        QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return file;
    }
    QImage frame(int n) { return QImage(path(QString("frame%1.png").arg(n))); }

private:
    struct Entry {
        QString kind, name;
        QStringList args;
    };
    QStringList argsOf(const QString& name) const
    {
        for (const Entry& e : entries_)
            if (e.name == name)
                return e.args;
        ADD_FAILURE() << name.toStdString() << " is not in media.txt";
        return {};
    }
    void make(const QString& name, const QString& file)
    {
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-y"} + argsOf("-") + argsOf(name) +
                                   QStringList{"-shortest", file});
        ffmpeg.waitForFinished(60000);
        EXPECT_EQ(ffmpeg.exitCode(), 0) << name.toStdString() << ffmpeg.readAllStandardError().toStdString();
    }

    std::vector<Entry> entries_;
    QTemporaryDir made_, scratch_;
};

// Which of ffmpeg's frames `picture` is nearest to.
int nearestFrame(const QImage& picture, const std::vector<QImage>& frames)
{
    int nearest = -1;
    double best = 255;
    for (size_t n = 0; n < frames.size(); ++n)
        if (double d = PictureDifference(picture, frames[n]); d < best)
            best = d, nearest = int(n);
    return best < 12.0 ? nearest : -1;
}

// What the panel would show: the newest picture the player handed over.
// The picture is shared with the handler, which may outlive the panel
// until the player closes.
class Panel {
public:
    explicit Panel(Player& player) : shown_(std::make_shared<Shown>())
    {
        player.onPicture = [shown = shown_](const QImage& p) {
            std::lock_guard lock(shown->mutex);
            shown->picture = p;
        };
    }
    QImage picture()
    {
        std::lock_guard lock(shown_->mutex);
        return shown_->picture;
    }
    // The picture once it has settled (a move while paused arrives a moment later).
    QImage settled()
    {
        std::this_thread::sleep_for(250ms);
        return picture();
    }

private:
    struct Shown {
        std::mutex mutex;
        QImage picture;
    };
    std::shared_ptr<Shown> shown_;
};

// What the player does with each format (-1: a picture that is none of
// ffmpeg's frames).
QString expectedOutcome(const QString& format)
{
    // ffmpeg leaves 0.1 s out after the first picture of these two (ffprobe
    // shows it): 0.4 s holds frame 3, 0.2 s frame 1.
    if (format == "xvid.avi" || format == "wmv2.avi")
        return "frames 0 0 3 1";
#ifdef _WIN32
    // Wine 8 decodes through its bridge to GStreamer, whose JPEG decoder
    // (1.22) gets the left edge of ffmpeg's Motion-JPEG wrong, on Linux too;
    // the Linux player decodes it with libav's instead. Tarvelo's own
    // recordings decode right.
    if (format.startsWith("mjpeg"))
        return "frames -1 -1 -1 -1";
#endif
    return "frames 0 0 4 2";
}

}  // namespace

// Recordings of the codecs that Windows-era capture programs and DVR exports
// wrote, and what the player does with each: which of ffmpeg's own frames
// it shows when opened, after previous, after two steps of a tenth (0.4 s)
// and after one back; whether it moves while playing and stands still when
// paused. A file it cannot play is refused, saying why.
TEST(PlayerFormats, RecordingsOthersMade)
{
    Media media;
    std::vector<QImage> frames;
    for (int n = 0; n <= 6; ++n)
        frames.push_back(media.frame(n));
    std::map<QString, QString> seen;
    for (const QString& format : media.formats()) {
        Player player;
        Panel panel(player);
        try {
            player.open(media.path(format));
        } catch (const PlayerError& e) {
            std::cout << format.toStdString() << " is refused: " << e.what() << std::endl;
            seen[format] = e.what()[0] && !player.isOpen() ? "refused" : "refused without a reason";
            continue;
        }
        QImage first = panel.settled();
        player.play();
        std::this_thread::sleep_for(700ms);
        player.pause();
        QImage paused = panel.settled();
        bool moved = PictureDifference(paused, first) > 1.0;
        std::this_thread::sleep_for(300ms);
        bool stood = PictureDifference(panel.picture(), paused) < 0.5;
        player.previous();
        int atStart = nearestFrame(panel.settled(), frames);
        player.step();
        player.step();
        int stepped = nearestFrame(panel.settled(), frames);
        player.back();
        int back = nearestFrame(panel.settled(), frames);
        seen[format] = QString("frames %1 %2 %3 %4").arg(nearestFrame(first, frames)).arg(atStart).arg(stepped).arg(back) +
                       (moved ? "" : " still while playing") + (stood ? "" : " moving while paused");
    }
    for (const QString& format : media.formats()) {
        std::cout << format.toStdString() << ": " << seen[format].toStdString() << std::endl;
        EXPECT_EQ(seen[format].toStdString(), expectedOutcome(format).toStdString()) << format.toStdString();
    }
}

// A codec nothing here decodes is refused when opened, by name; a recording
// cut short when its recorder died plays what it holds or says why.
TEST(PlayerFormats, WhatCannotBeDecodedSaysSo)
{
    Media media;
    Player player;
    // ffmpeg writes only FourCCs it knows: the codec's name is changed afterwards.
    QString unknown = media.copy("mjpeg.avi", "unknown.avi");
    QFile renamed(unknown);
    ASSERT_TRUE(renamed.open(QIODevice::ReadWrite));
    QByteArray bytes = renamed.readAll().replace("MJPG", "ABCD");
    renamed.seek(0);
    renamed.write(bytes);
    renamed.close();
    try {
        player.open(unknown);
        ADD_FAILURE() << "opened into a black panel";
    } catch (const PlayerError& e) {
#ifndef _WIN32
        EXPECT_NE(std::string(e.what()).find("ABCD"), std::string::npos) << e.what();
#else
        EXPECT_NE(std::string(e.what()).find("cannot play the video"), std::string::npos) << e.what();
#endif
    }
    EXPECT_FALSE(player.isOpen());

    QString cut = media.copy("mjpeg.avi", "cut.avi");
    QFile file(cut);
    ASSERT_TRUE(file.resize(file.size() * 6 / 10));  // no index, a partial last chunk
    QElapsedTimer t;
    t.start();
    try {
        Panel panel(player);
        player.open(cut);
        player.play();
        std::this_thread::sleep_for(500ms);
        player.pause();
        EXPECT_EQ(panel.settled().size(), QSize(160, 120)) << "what it holds plays";
    } catch (const PlayerError& e) {
        EXPECT_STRNE(e.what(), "") << "refused with a reason";
    }
    EXPECT_LT(t.elapsed(), 8000) << "never hangs";
    ASSERT_NO_THROW(player.open(media.path("silent-mjpeg.avi"))) << "the next file opens";
}

#ifndef _WIN32
// GStreamer's own JPEG decoder mangles 4:4:4 Motion-JPEG (see the table
// above), so the player picks libav's inside its own pipeline; the ranks
// in the host's registry stay as they were.
TEST(PlayerFormats, MotionJpeg444LeavesTheHostsRegistryAlone)
{
    Media media;
    ASSERT_TRUE(EnsureGstreamer());
    auto ranks = [] {
        std::vector<guint> seen;
        for (const char* name : {"avdec_mjpeg", "jpegdec"}) {
            GstPluginFeature* feature = gst_registry_lookup_feature(gst_registry_get(), name);
            seen.push_back(feature ? gst_plugin_feature_get_rank(feature) : 0);
            if (feature)
                gst_object_unref(feature);
        }
        return seen;
    };
    QString file = media.path("mjpeg444.avi");
    const std::vector<guint> before = ranks();
    Player player;
    Panel panel(player);
    ASSERT_NO_THROW(player.open(file));
    EXPECT_LT(PictureDifference(panel.settled(), media.frame(0)), 3.0);
    player.close();
    EXPECT_EQ(ranks(), before);
}
#endif
