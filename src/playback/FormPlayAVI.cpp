#include "playback/FormPlayAVI.h"

#include "framework/Application.h"
#include "framework/ErrorGuard.h"
#include "framework/WindowFont.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace tarvelo {
namespace {

// The media player's display: black, the picture at its own size from the
// top-left corner.
class PictureSurface final : public QWidget {
public:
    PictureSurface(std::function<QImage()> picture, QWidget* parent) : QWidget(parent), picture_(std::move(picture))
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        QImage shown = picture_();
        if (!shown.isNull())
            painter.drawImage(QPoint(0, 0), shown);
    }

private:
    std::function<QImage()> picture_;
};

QToolButton* toolButton(QWidget* parent, const QRect& geometry, const QIcon& icon, const QString& tip)
{
    auto* b = new QToolButton(parent);
    b->setGeometry(geometry);
    b->setIcon(icon);
    b->setIconSize(QSize(16, 16));
    b->setToolTip(tip);
    return b;
}

}  // namespace

TfmPlayAVI::TfmPlayAVI(QWidget* parent)
    : FormDialog(parent, Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("fmPlayAVI"));
    setWindowTitle(QStringLiteral("视频回放"));
    setFont(ConsoleFont());
    resize(363, 297);  // 371 x 324 with the frame
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    Panel1 = new PictureSurface([this] { return shownPicture(); }, this);
    layout->addWidget(Panel1, 1);
    auto* bar = new QWidget(this);
    bar->setFixedHeight(39);
    layout->addWidget(bar);
    buildButtonBar(bar);
    MediaPlayer.onPicture = [this](const QImage& picture) {
        {
            std::lock_guard lock(pictureMutex_);
            picture_ = picture;
        }
        repaints_.post([this] { Panel1->update(); });
    };
    Application::adopt(this);
}

// The player closes its file before the picture it hands over is gone.
TfmPlayAVI::~TfmPlayAVI()
{
    MediaPlayer.close();
}

void TfmPlayAVI::buildButtonBar(QWidget* bar)
{
    QStyle* s = style();
    SpeedButton1 = toolButton(bar, {3, 6, 28, 30}, s->standardIcon(QStyle::SP_DialogOpenButton),
                              QStringLiteral("打开视频文件"));
    const std::pair<QStyle::StandardPixmap, void (Player::*)()> buttons[] = {
        {QStyle::SP_MediaPlay, &Player::play},          {QStyle::SP_MediaPause, &Player::pause},
        {QStyle::SP_MediaStop, &Player::stop},          {QStyle::SP_MediaSkipForward, &Player::next},
        {QStyle::SP_MediaSkipBackward, &Player::previous}, {QStyle::SP_MediaSeekForward, &Player::step},
        {QStyle::SP_MediaSeekBackward, &Player::back},
    };
    const char* names[] = {"btPlay", "btPause", "btStop", "btNext", "btPrev", "btStep", "btBack"};  // the player's
    for (size_t i = 0; i < std::size(buttons); ++i) {
        auto [icon, action] = buttons[i];
        playerButtons[i] = toolButton(bar, {29 + int(i) * 28, 6, 28, 30}, s->standardIcon(icon), QString());
        playerButtons[i]->setObjectName(QLatin1String(names[i]));
        connect(playerButtons[i], &QToolButton::clicked, this,
                [this, action = action] { guarded([&] { (MediaPlayer.*action)(); }); });
    }
    SpeedButton2 = toolButton(bar, {226, 6, 27, 30}, s->standardIcon(QStyle::SP_DialogCloseButton),
                              QStringLiteral("关闭"));
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton1Click(); }); });
    connect(SpeedButton2, &QToolButton::clicked, this, &QDialog::reject);
}

QImage TfmPlayAVI::shownPicture() const
{
    std::lock_guard lock(pictureMutex_);
    return picture_;
}

void TfmPlayAVI::runModal()
{
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    exec();
}

// On Linux the pattern is spelt in every letter case: .avi, .AVI, .Avi.
void TfmPlayAVI::SpeedButton1Click()
{
    QFileDialog dialog(this, QStringLiteral("打开视频文件"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("视频文件(*.AVI) (*.[aA][vV][iI])"));
    dialog.setDefaultSuffix(QStringLiteral("AVI"));
    dialog.setOption(QFileDialog::ReadOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    openFile(dialog.selectedFiles().first());
}

void TfmPlayAVI::openFile(const QString& file)
{
    {
        std::lock_guard lock(pictureMutex_);
        picture_ = QImage();
    }
    Panel1->repaint();
    setWindowTitle(QStringLiteral("视频回放-") + QFileInfo(file).fileName());
    MediaPlayer.open(file);
}

}  // namespace tarvelo
