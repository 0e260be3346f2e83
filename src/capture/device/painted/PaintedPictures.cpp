#include "capture/device/painted/PaintedPictures.h"

#include "capture/site/SiteScene.h"

#include <QFile>
#include <QFont>
#include <QPainter>
#include <QTime>
#include <array>

namespace tarvelo {
namespace {

// A file read twenty times a second costs nothing next to the painting, and
// a moving head still looks smooth.
constexpr std::chrono::milliseconds ReadInterval{50};

const std::array<QRgb, 7> Bars = {0xC0C0C0, 0xC0C000, 0x00C0C0, 0x00C000, 0xC000C0, 0xC00000, 0x0000C0};

void paintCaption(QImage& frame, const QString& text, Qt::Alignment where)
{
    QPainter painter(&frame);
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(std::max(12, frame.height() / 12));
    font.setBold(where & Qt::AlignTop);
    painter.setFont(font);
    QRect box = painter.boundingRect(frame.rect().adjusted(8, 8, -8, -8), int(where), text).adjusted(-4, -2, 4, 2);
    painter.fillRect(box, QColor(0, 0, 0, 150));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, text);
}

}  // namespace

// The bars move four pixels a frame at 30 frames a second.
void PaintTestPattern(QImage& frame, std::chrono::milliseconds elapsed)
{
    const int width = frame.width(), height = frame.height();
    const int shift = int(elapsed.count() * 120 / 1000) % std::max(1, width);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(frame.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xFF000000 | Bars[size_t(((x + width - shift) % width) * int(Bars.size()) / width)];
    }
    paintCaption(frame, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), Qt::AlignRight | Qt::AlignBottom);
}

// Through Qt, as every path on Windows: a narrow name would be read in the
// ANSI code page.
std::optional<SiteView> SitePainter::readView() const
{
    QFile file(file_);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ParseSiteView(file.readAll().toStdString());
}

void SitePainter::operator()(QImage& frame, std::chrono::milliseconds elapsed)
{
    if (elapsed >= nextRead_) {
        nextRead_ = elapsed + ReadInterval;
        view_ = readView();
    }
    if (!view_) {
        PaintTestPattern(frame, elapsed);
        return;
    }
    PaintSiteScene(*view_, frame.bits(), frame.width(), frame.height(), int(frame.bytesPerLine()));
    paintCaption(frame, QStringLiteral("摄像机 %1").arg(view_->camera), Qt::AlignLeft | Qt::AlignTop);
}

}  // namespace tarvelo
