#include "BenchSupport.h"

#include "capture/FormatDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

namespace tarvelo::bench {

void pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool chooseSize(TVideoCap& cap, const QString& size)
{
    QTimer::singleShot(100, [size] {
        auto* dialog = qobject_cast<FormatDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        auto* list = dialog->findChild<QComboBox*>();
        list->setCurrentIndex(list->findText(size + ", BGRx"));
        dialog->accept();
    });
    return cap.ShowVideoFormatDialog();
}

bool openTestPattern(TVideoCap& cap)
{
    cap.resize(640, 480);
    cap.show();
    cap.setDriverName("Tarvelo test pattern");
    if (cap.EnsureDriverOpen())
        return true;
    std::fprintf(stderr, "the test-pattern driver does not open\n");
    return false;
}

}  // namespace tarvelo::bench
