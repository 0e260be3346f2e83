#pragma once
// The media player of the playback window (GStreamer's playbin on Linux;
// on Windows, DirectShow). It
// opens one file at a time, paused at its start, and is driven by the
// player's buttons; the decoded pictures go to whoever shows them. It has
// no widgets: the window draws the pictures.
//
// Use it from the thread that made it; pictures arrive on the media
// system's threads and are handed over through `onPicture`.

#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace tarvelo {

class PlayerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Player {
public:
    Player();
    ~Player();  // closes the file

    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Closes what is open, then opens `file` paused at its start, showing
    // its first picture. Throws PlayerError with the media system's text
    // when it cannot, or when nothing here decodes its video.
    void open(const QString& file);
    void close();
    bool isOpen() const { return pipeline_ != nullptr; }

    // The seven buttons: next goes to the end, previous to the start, step
    // and back move by one tenth of the length.
    void play();
    void pause();
    void stop();
    void next();
    void previous();
    void step();
    void back();

    int64_t lengthMs() const { return lengthMs_; }
    int64_t positionMs() const;
    bool playing() const;

    // Each decoded picture, on a streaming thread.
    std::function<void(const QImage&)> onPicture;

private:
    struct Pipeline;   // the open file's pipeline, the media system's own
    struct Callbacks;  // what the media system calls
    void seekTo(int64_t ms);

    std::unique_ptr<Pipeline> pipeline_;
    int64_t lengthMs_ = 0;
    std::atomic<int> inCallback_{0};
};

}  // namespace tarvelo
