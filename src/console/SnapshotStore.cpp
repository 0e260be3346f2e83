#include "console/SnapshotStore.h"

#include "framework/FileBeside.h"
#include "framework/GbkText.h"
#include "framework/JpegImage.h"
#include "framework/Log.h"
#include "framework/MessageBox.h"

#include <QFileInfo>

namespace tarvelo {
namespace {

const QString CannotSavePicture = QStringLiteral("不能保存图片");
const QString SavedToDatabase = QStringLiteral("保存到数据库完成");
const QString DatabaseFailed = QStringLiteral("保存到数据库失败");
const QString FileWriteFailed = QStringLiteral("文件存盘失败");
const QString FileSaveFailed = QStringLiteral("文件保存失败");

// The operator goes in as a parameter of its own: a quote in a name must
// not change the statement. The box still shows the name in its place.
const QString InsertToRun = QStringLiteral(
    "insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR, PICTURE) VALUES(%1,'%2',:op,:img)");

// OPERATOR is char(10).
constexpr int OperatorWidth = 10;

QString statementTime(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// SQL Server's char(10) holds 10 bytes of its code page (GBK on a Chinese
// server); a character it cannot hold is stored as one "?".
qsizetype gbkLength(char32_t character)
{
    return qsizetype(toGbk(QString::fromUcs4(&character, 1)).size());
}

}  // namespace

SnapshotStore::SnapshotStore(TVideoCap& capture, QueryObject& query, Settings settings)
    : showStatement([](const QString& statement) { showMessage(statement); }),
      capture_(capture),
      query_(query),
      settings_(std::move(settings))
{
}

QString SnapshotStore::InsertText(int32_t port, const QDateTime& time, const QString& operatorName)
{
    return QStringLiteral("insert into CAPPICTURE(VIDEOPORT, CAPTIME, OPERATOR, PICTURE) VALUES(%1,'%2','%3',:img)")
        .arg(port)
        .arg(statementTime(time), operatorName);
}

QString SnapshotStore::StoredOperator(const QString& operatorName, SqlDialect dialect)
{
    QString stored = QStringLiteral("");  // never NULL: hosts take snapshots without an operator
    qsizetype used = 0;
    for (char32_t character : operatorName.toUcs4()) {
        used += dialect == SqlDialect::SqlServer ? gbkLength(character) : 1;
        if (used > OperatorWidth)
            break;
        stored += QString::fromUcs4(&character, 1);
    }
    return stored;
}

QString SnapshotStore::FileName(const QString& pictureDir, int32_t port, const QDateTime& time,
                                const QString& operatorName)
{
    QString safeName = operatorName;
    for (QChar& c : safeName)
        if (c == '/' || c == '\\' || ForbiddenInFileName(c.unicode()))
            c = '_';
    return pictureDir + QString::number(port) + '-' + time.toString(QStringLiteral("yyyyMMddhhmmss")) + '-' +
           safeName + QStringLiteral(".jpg");
}

QString SnapshotStore::TakeSnapshot(const QString& operatorArgument, const QString& operatorName, int32_t currentPort)
{
    return Store(Grab(operatorArgument, operatorName, currentPort));
}

SnapshotStore::Grabbed SnapshotStore::Grab(const QString& operatorArgument, const QString& operatorName,
                                           int32_t currentPort)
{
    Grabbed grabbed{QString(), QImage(), QDateTime(), currentPort, operatorArgument, operatorName};
    capture_.GrabFrameNoStop();
    if (!capture_.SaveFrameToFile()) {
        grabbed.failure = CannotSavePicture;
        return grabbed;
    }
    grabbed.picture = QImage(capture_.SingleImageFile, "BMP");
    grabbed.time = now();
    if (grabbed.picture.isNull()) {
        logLine("snapshot", "cannot read " + capture_.SingleImageFile.toStdString());
        grabbed.failure = FileSaveFailed;
    }
    return grabbed;
}

QString SnapshotStore::Store(const Grabbed& grabbed)
{
    if (!grabbed.failure.isEmpty())
        return grabbed.failure;
    if (settings_.SaveToDatabase)
        return InsertSnapshot(grabbed.operatorArgument, grabbed.picture, grabbed.port, grabbed.time) ? SavedToDatabase
                                                                                                   : DatabaseFailed;
    return storeFile(grabbed.picture, grabbed.operatorName, grabbed.port, grabbed.time);
}

// The statement box runs an event loop, in which the host may free the
// console and this store with it: nothing of ours is touched after the box
// until we know we still exist.
bool SnapshotStore::InsertSnapshot(const QString& operatorName, const QImage& picture, int32_t currentPort,
                                   const QDateTime& time)
{
    try {
        QByteArray jpeg = EncodeJpeg(picture);
        std::weak_ptr<void> alive = alive_;
        showStatement(InsertText(currentPort, time, operatorName));
        if (alive.expired())
            return false;
        query_.setStatement(InsertToRun.arg(currentPort).arg(statementTime(time)));
        query_.setParameter(QStringLiteral("op"), StoredOperator(operatorName, query_.dialect()));
        query_.setParameter(QStringLiteral("img"), jpeg);
        query_.execute();
        return true;
    } catch (const OutcomeUnknown& e) {
        logLine("snapshot", std::string("the row may have been stored: ") + e.what());
        return false;
    } catch (const std::exception& e) {
        logLine("snapshot", std::string("the row was not stored: ") + e.what());
        return false;
    }
}

// The picture is written beside its final name and takes that name only
// once complete and on the disk: a full disk or a power cut leaves no
// cut-off picture behind.
QString SnapshotStore::storeFile(const QImage& picture, const QString& operatorName, int32_t currentPort,
                                 const QDateTime& time)
{
    QString path = FileName(settings_.PictureDir, currentPort, time, operatorName);
    if (operatorName != toldName_ && !path.endsWith('-' + operatorName + QStringLiteral(".jpg"))) {
        toldName_ = operatorName;
        logLine("snapshot", "the operator's name has characters no file name may have: they are \"_\" in " +
                                path.toStdString());
    }
    // The picture takes its name only at the end, so a name no file can
    // have would show only then: it is refused first.
    if (!FileNameFits(path)) {
        logLine("snapshot", "no file can be named " + path.toStdString());
        return FileSaveFailed;
    }
    try {
        std::string why;
        switch (WriteBeside(path, EncodeJpeg(picture), why)) {
        case BesideResult::Written:
            return QString();
        case BesideResult::NotCreated:
            logLine("snapshot", "cannot create " + path.toStdString() + ": " + why);
            return FileSaveFailed;
        case BesideResult::NotWritten:
            logLine("snapshot", "cannot write " + path.toStdString() + ": " + why);
            break;
        case BesideResult::NameNotDurable:  // the picture is there: saying otherwise would be untrue
            logLine("snapshot", path.toStdString() + " is written, but may not survive a power cut: " + why);
            return QString();
        }
    } catch (const JpegError& e) {
        logLine("snapshot", std::string("cannot encode the picture: ") + e.what());
    }
    return FileWriteFailed;
}

}  // namespace tarvelo
