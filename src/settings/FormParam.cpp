#include "settings/FormParam.h"

#include "framework/Application.h"
#include "framework/GbkText.h"
#include "framework/Log.h"
#include "framework/MessageBox.h"
#include "framework/SpinEdit.h"
#include "framework/WindowFont.h"
#include "settings/IniData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <climits>
#include <stdexcept>

namespace tarvelo {
namespace {

QComboBox* comboBox(QWidget* parent, const QRect& geometry, const QStringList& items, bool editable)
{
    auto* box = new QComboBox(parent);
    box->setGeometry(geometry);
    box->setEditable(editable);
    box->addItems(items);
    return box;
}

void label(QWidget* parent, const QString& text, const QRect& geometry)
{
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry.adjusted(0, -2, 40, 2));  // room for the font's line height
}

// A whole number, or an error: "1.5", "COM3" and empty text are not.
int32_t wholeNumber(const QString& text)
{
    bool ok = false;
    int32_t n = text.trimmed().toInt(&ok);
    if (!ok)
        throw std::invalid_argument("\"" + text.toStdString() + "\" is not a whole number");
    return n;
}

// The file is GBK: a character it cannot hold would come back as "?", and
// the console would use a directory nobody chose.
QString storableText(const QString& text)
{
    if (!gbkCanHold(text))
        throw std::invalid_argument("\"" + text.toStdString() + "\" has characters that GBK cannot hold");
    return text;
}

QStringList numbers(int from, int to)
{
    QStringList list;
    for (int n = from; n <= to; ++n)
        list << QString::number(n);
    return list;
}

}  // namespace

TfmParam::TfmParam(QWidget* parent) : FormDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("fmParam"));
    setWindowTitle(QStringLiteral("参数设置"));
    setFont(ConsoleFont());
    setFixedSize(421, 249);
    auto* bevel = new QFrame(this);
    bevel->setGeometry(0, 205, 421, 2);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    buildLineGroup();
    buildOutputGroup();
    buildStorageGroup();
    btConfirm = new QPushButton(QStringLiteral("确认(&D)"), this);
    btConfirm->setGeometry(94, 216, 75, 25);
    btCancel = new QPushButton(QStringLiteral("取消(&C)"), this);
    btCancel->setGeometry(246, 216, 75, 25);
    connect(btConfirm, &QPushButton::clicked, this, [this] {
        btConfirmClick();
        accept();
    });
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    QWidget* order[] = {cbPort, cbBaud, cbData, cbParity, cbStop, seTV, seLocal, seIndex, cbDataBase, edDir,
                        btConfirm, btCancel};
    const char* names[] = {"cbPort", "cbBaud", "cbData", "cbParity", "cbStop", "seTV", "seLocal", "seIndex",
                           "cbDataBase", "edDir", "btConfirm", "btCancel"};
    for (size_t i = 0; i < std::size(order); ++i) {
        order[i]->setObjectName(QLatin1String(names[i]));  // as in the form's design
        if (i > 0)
            setTabOrder(order[i - 1], order[i]);
    }
    Application::adopt(this);
    FormCreate();
}

void TfmParam::buildLineGroup()
{
    auto* group = new QGroupBox(QStringLiteral("矩阵连接参数"), this);
    group->setGeometry(18, 12, 132, 179);
    label(group, QStringLiteral("串口号"), {9, 29, 36, 12});
    cbPort = comboBox(group, {47, 25, 75, 20}, numbers(1, 30), true);
    label(group, QStringLiteral("波特率"), {9, 58, 36, 12});
    cbBaud = comboBox(group, {47, 54, 75, 20},
                      {"1200", "2400", "4800", "9600", "11400", "15200", "19200", "38400"}, true);
    label(group, QStringLiteral("数据位"), {9, 88, 36, 12});
    cbData = comboBox(group, {47, 84, 75, 20}, {"6", "7", "8"}, true);
    label(group, QStringLiteral("校验位"), {9, 117, 36, 12});
    cbParity = comboBox(group, {47, 114, 75, 20},
                        {QStringLiteral("无"), QStringLiteral("奇校验"), QStringLiteral("偶校验")}, false);
    label(group, QStringLiteral("停止位"), {9, 146, 36, 12});
    cbStop = comboBox(group, {47, 144, 75, 20}, {"1", "1.5", "2"}, true);
}

void TfmParam::buildOutputGroup()
{
    auto* group = new QGroupBox(QStringLiteral("矩阵输出连接设置"), this);
    group->setGeometry(165, 11, 237, 90);
    label(group, QStringLiteral("监视器端口"), {11, 26, 60, 12});
    seTV = new SpinEdit(INT_MIN, INT_MAX, 0, group);
    seTV->setGeometry(77, 22, 43, 21);
    label(group, QStringLiteral("本机端口"), {127, 26, 48, 12});
    seLocal = new SpinEdit(INT_MIN, INT_MAX, 0, group);
    seLocal->setGeometry(179, 22, 49, 21);
    label(group, QStringLiteral("显示用视频卡索引号"), {11, 58, 108, 12});
    seIndex = new SpinEdit(INT_MIN, INT_MAX, 0, group);
    seIndex->setGeometry(128, 53, 49, 21);
}

void TfmParam::buildStorageGroup()
{
    auto* group = new QGroupBox(QStringLiteral("图片存储设置"), this);
    group->setGeometry(166, 111, 236, 80);
    cbDataBase = new QCheckBox(QStringLiteral("图片保存到数据库"), group);
    cbDataBase->setGeometry(13, 24, 204, 17);
    label(group, QStringLiteral("抓拍图片目录"), {13, 51, 72, 12});
    edDir = new QLineEdit(group);
    edDir->setGeometry(90, 48, 136, 20);
}

void TfmParam::FormCreate()
{
    TIniData settings;
    TPortParam line;
    settings.ReadPortParam(line);
    cbPort->setCurrentText(QString::number(line.Port));
    cbBaud->setCurrentText(QString::number(line.BaudRate));
    cbData->setCurrentText(QString::number(line.DataBits));
    char parity = char(std::tolower(static_cast<unsigned char>(line.Parity)));
    cbParity->setCurrentIndex(parity == 'o' ? 1 : parity == 'e' ? 2 : 0);
    cbStop->setCurrentText(QString::number(line.StopBits));
    seTV->setValue(settings.ReadMonitorPort());
    seLocal->setValue(settings.ReadLocalPort());
    seIndex->setValue(settings.ReadCardIndex());
    cbDataBase->setChecked(settings.ReadSaveToDatabase());
    edDir->setText(settings.ReadPictureDirText());
}

void TfmParam::btConfirmClick()
{
    try {
        saveSettings();
        showMessage(QStringLiteral("数据设置完成，再次启动时生效"), QStringLiteral("提示"), MessageIcon::Information);
    } catch (const std::exception& e) {
        logLine("settings", std::string("the settings were not saved: ") + e.what());
        showMessage(QStringLiteral("设置数据有误，请检查"), QStringLiteral("错误"), MessageIcon::Critical);
    }
}

// Every conversion comes before the first write: a wrong number writes nothing.
void TfmParam::saveSettings()
{
    TPortParam line;
    line.Port = wholeNumber(cbPort->currentText());
    line.BaudRate = wholeNumber(cbBaud->currentText());
    line.DataBits = wholeNumber(cbData->currentText());
    line.Parity = "noe"[std::clamp(cbParity->currentIndex(), 0, 2)];
    line.StopBits = wholeNumber(cbStop->currentText());
    QString pictureDir = storableText(edDir->text());
    TIniData settings;
    settings.WritePortParam(line);
    settings.WriteSaveToDatabase(cbDataBase->isChecked());
    settings.WritePictureDir(pictureDir);
    settings.WriteLocalPort(seLocal->number());
    settings.WriteMonitorPort(seTV->number());
    settings.WriteCardIndex(seIndex->number());
}

}  // namespace tarvelo
