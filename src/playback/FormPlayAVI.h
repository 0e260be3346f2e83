#pragma once
// TfmPlayAVI: the playback window. The user picks an AVI file; its picture
// is drawn in a black panel and the player's seven buttons drive it.

#include "framework/PostedRequests.h"
#include "playback/Player.h"

#include "framework/FormDialog.h"
#include <QImage>
#include <array>
#include <mutex>

class QToolButton;

namespace tarvelo {

class TfmPlayAVI final : public FormDialog {
    Q_OBJECT
public:
    explicit TfmPlayAVI(QWidget* parent = nullptr);
    ~TfmPlayAVI() override;

    void runModal();

    // What SpeedButton1Click does once the user has chosen `file`.
    void openFile(const QString& file);

    Player MediaPlayer;
    QImage shownPicture() const;

private:
    QWidget* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    // play, pause, stop, next, previous, step, back
    std::array<QToolButton*, 7> playerButtons{};

    void buildButtonBar(QWidget* bar);
    void SpeedButton1Click();

    mutable std::mutex pictureMutex_;
    QImage picture_;  // the newest picture, written on GStreamer's threads
    PostedRequests repaints_;
};

}  // namespace tarvelo
