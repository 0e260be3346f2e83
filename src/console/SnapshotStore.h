#pragma once
// The console's snapshots: the frame the capture component shows, as a
// JPEG file in the picture directory or as a row of CAPPICTURE. Every
// outcome is one of the console's fixed status texts.

#include "capture/Video.h"
#include "framework/QueryObject.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

namespace tarvelo {

class SnapshotStore {
public:
    // How the snapshot is stored, read once when the console is created.
    struct Settings {
        bool SaveToDatabase = false;
        QString PictureDir;  // ends in a separator
    };

    SnapshotStore(TVideoCap& capture, QueryObject& query, Settings settings);

    // The statement box, shown before an insert runs; a modal message box
    // unless a test puts something else here.
    std::function<void(const QString& statement)> showStatement;
    // The time a snapshot is taken at.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    // A frame taken and waiting to be stored.
    struct Grabbed {
        QString failure;  // the status text where there is no frame to store
        QImage picture;
        QDateTime time;
        int32_t port = 0;
        QString operatorArgument;  // goes into a row
        QString operatorName;      // the library's operator, into a file name
    };

    // Grabs, encodes and stores one snapshot; answers the status text
    // (empty when a file was stored: the console then shows nothing).
    QString TakeSnapshot(const QString& operatorArgument, const QString& operatorName, int32_t currentPort);
    // The two halves of it: the frame taken now, stored later.
    Grabbed Grab(const QString& operatorArgument, const QString& operatorName, int32_t currentPort);
    QString Store(const Grabbed& grabbed);

    // The row of one snapshot; false when the encoding or the database failed.
    bool InsertSnapshot(const QString& operatorName, const QImage& picture, int32_t currentPort,
                        const QDateTime& time);

    // What the statement box shows for a row.
    static QString InsertText(int32_t port, const QDateTime& time, const QString& operatorName);
    // The operator as the char(10) column OPERATOR holds it: empty text,
    // never NULL; cut to 10 characters, on SQL Server to 10 bytes of GBK,
    // never inside a character.
    static QString StoredOperator(const QString& operatorName, SqlDialect dialect);
    // Where a snapshot file goes; a path separator in the operator's name
    // becomes "_", so that no name leads out of the picture directory, and
    // so does a character the file system refuses (Windows' : * ? " < > |).
    static QString FileName(const QString& pictureDir, int32_t port, const QDateTime& time,
                            const QString& operatorName);

private:
    QString storeFile(const QImage& picture, const QString& operatorName, int32_t currentPort, const QDateTime& time);

    TVideoCap& capture_;
    QueryObject& query_;
    Settings settings_;
    QString toldName_;  // the last operator name whose changed file name was logged
    std::shared_ptr<void> alive_ = std::make_shared<int>(0);  // expires with the store
};

}  // namespace tarvelo
