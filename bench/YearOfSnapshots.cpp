#include "YearOfSnapshots.h"

#include "BenchSupport.h"
#include "archive/FormQueryPic.h"
#include "framework/JpegImage.h"

#include <QApplication>
#include <QDateEdit>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <unistd.h>
#include <cstdio>
#include <vector>

namespace tarvelo::bench {
namespace {

constexpr double SecondsApart = 365.0 * 86400 / YearRows;  // about 2,740 snapshots a day

struct QueryWindow {
    TfmQueryPic& window;
    QTableView* grid = window.findChild<QTableView*>(QStringLiteral("DBGrid1"));

    // Runs a search as the user does, and gives the time to its first row
    // and picture on the screen.
    double search(QDate begin, QDate end)
    {
        window.findChild<QDateEdit*>(QStringLiteral("dtpBegin"))->setDate(begin);
        window.findChild<QDateEdit*>(QStringLiteral("dtpEnd"))->setDate(end);
        QElapsedTimer t;
        t.start();
        window.findChild<QPushButton*>(QStringLiteral("btQuery"))->click();
        window.repaint();
        return msSince(t);
    }

    // The time until the rest of the result is listed, as the window
    // does it between its events.
    double untilListed()
    {
        QElapsedTimer t;
        t.start();
        while (window.adoQuery.isListing())
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        return msSince(t);
    }
    double press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QElapsedTimer t;
        t.start();
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(grid, &event);
        window.repaint();
        return msSince(t);
    }

    int rows() const { return grid->model()->rowCount(); }
    int current() const { return grid->currentIndex().row(); }
    bool pictureShown() const
    {
        return !window.findChild<QLabel*>(QStringLiteral("picImage"))->pixmap().isNull();
    }
};

// The next row's picture (the down arrow) at the start, the middle and the
// end of the result: the median and the slowest of 60 moves.
std::pair<double, double> nextRowMoves(QueryWindow& w)
{
    std::vector<double> moves;
    for (int place : {0, w.rows() / 2, w.rows() - 21}) {
        w.grid->setCurrentIndex(w.grid->model()->index(place, 0));
        for (int i = 0; i < 20; ++i)
            moves.push_back(w.press(Qt::Key_Down));
    }
    std::sort(moves.begin(), moves.end());
    return {moves[moves.size() / 2], moves.back()};
}

}  // namespace

double residentMb()
{
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

double msSince(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// A picture of about 2 KB, noise, which does not compress: just over what
// PostgreSQL keeps inside a table's row, so that it is stored apart as
// every real snapshot is, and the table itself stays small.
QByteArray smallPicture()
{
    QByteArray encoded;
    for (int width = 40; encoded.size() < 2100; width += 4) {
        QImage image(width, 32, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, QRandomGenerator::global()->generate());
        encoded = EncodeJpeg(image);
    }
    return encoded;
}

void fillYear(const QString& connection, bool postgres, int year, const QByteArray& picture)
{
    QueryObject query;
    query.setConnectionString(connection);
    query.setTimeLimit(std::chrono::minutes(10));  // a year's rows in one statement
    query.setStatement(postgres ? "create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, OPERATOR char(10), "
                                  "PICTURE bytea)"
                                : "create table CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, OPERATOR char(10), "
                                  "PICTURE blob)");
    query.execute();
    query.setStatement(
        postgres ? QString("insert into CAPPICTURE select i %% 16, timestamp '%3-01-01' + (i * %1) * interval "
                           "'1 second', 'op', :img from generate_series(0, %2) i")
                       .arg(SecondsApart)
                       .arg(YearRows - 1)
                       .arg(year)
                       .replace("%%", "%")
                 : QString("insert into CAPPICTURE with recursive c(i) as (select 0 union all select i + 1 from c "
                           "where i < %2) select i %% 16, datetime('%3-01-01', '+' || cast(i * %1 as integer) || "
                           "' seconds'), 'op', :img from c")
                       .arg(SecondsApart)
                       .arg(YearRows - 1)
                       .arg(year)
                       .replace("%%", "%"));
    query.setParameter("img", picture);
    query.execute();
    query.setStatement("create index CAPPICTURE_CAPTIME on CAPPICTURE (CAPTIME)");
    query.execute();
    if (postgres) {
        // A year-old table has long been vacuumed and analysed by the
        // server's autovacuum (an insert-only one too, since PostgreSQL 13):
        // a table filled a moment ago not yet, and its first full read would
        // write every page's visibility hints while it is being timed. The
        // load's writes are flushed to the disk, too (the test server never
        // does), so that the disk is as quiet as a site's.
        for (const char* settle : {"vacuum analyze CAPPICTURE", "checkpoint"}) {
            query.setStatement(settle);
            query.execute();
        }
        ::sync();
    }
}

void measureQueryWindow(const QString& name, const QString& connection, int year, QDate day, bool rowKeys)
{
    TfmQueryPic window(connection);
    window.adoQuery.setRowKeysUsed(rowKeys);
    QElapsedTimer opening;
    opening.start();
    QTimer::singleShot(0, &window, [&] {
        double openMs = msSince(opening);
        QueryWindow w{window};
        bool openedWithPicture = w.pictureShown();
        double dayMs = w.search(day, day);
        w.untilListed();
        int dayRows = w.rows();
        double before = residentMb();
        double yearMs = w.search(QDate(year, 1, 1), QDate(year, 12, 31));
        double yearAllMs = yearMs + w.untilListed();
        int yearRows = w.rows();
        double grown = residentMb() - before;
        double lastMs = w.press(Qt::Key_End, Qt::ControlModifier);
        bool atLast = w.current() == yearRows - 1 && w.pictureShown();
        auto [nextMedian, nextMax] = nextRowMoves(w);
        std::printf("%s:\n"
                    "  window open with its first picture%s: %.0f ms (target < 300)\n"
                    "  one day (%s), %d rows: first row shown %.0f ms (target < 300)\n"
                    "  every row, %d rows: first row shown %.0f ms (target < 1000), all listed %.0f ms (target < "
                    "3000); resident memory %+.0f MB (target < +256)\n"
                    "  to the last row (Ctrl+End)%s: %.1f ms (target < 1000)\n"
                    "  next row's picture at the start, middle and end: median %.1f ms, max %.1f ms (target < 30)\n",
                    qPrintable(name), openedWithPicture ? "" : " (NO PICTURE)", openMs, qPrintable(day.toString(Qt::ISODate)), dayRows, dayMs, yearRows,
                    yearMs, yearAllMs, grown, atLast ? "" : " (NOT REACHED)", lastMs, nextMedian, nextMax);
        std::fflush(stdout);
        window.reject();
    });
    window.runModal();
}

}  // namespace tarvelo::bench
