#pragma once
// The pictures of the in-process test pattern: moving colour bars with a
// running clock, or, where a site file is named, the virtual site's camera
// with its number. Each painter belongs to one session's painter thread.

#include "capture/site/SiteView.h"

#include <QImage>
#include <QString>
#include <chrono>
#include <optional>
#include <string>

namespace tarvelo {

void PaintTestPattern(QImage& frame, std::chrono::milliseconds elapsed);

class SitePainter {
public:
    explicit SitePainter(QString siteFile) : file_(std::move(siteFile)) {}
    // The test pattern while the file names no camera (no simulator).
    void operator()(QImage& frame, std::chrono::milliseconds elapsed);

private:
    std::optional<SiteView> readView() const;

    QString file_;
    std::optional<SiteView> view_;
    std::chrono::milliseconds nextRead_{0};
};

}  // namespace tarvelo
