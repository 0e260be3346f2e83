#include "BenchSupport.h"

#include "capture/FormatDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>

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

}  // namespace tarvelo::bench
