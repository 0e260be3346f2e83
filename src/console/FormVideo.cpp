#include "console/FormVideo.h"

#include "framework/Application.h"
#include "framework/ErrorGuard.h"
#include "framework/Log.h"
#include "framework/SpinEdit.h"
#include "framework/WindowFont.h"
#include "framework/WindowParts.h"
#include "settings/IniData.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

namespace tarvelo {
namespace {

const QString PortSettingsWrong = QStringLiteral("矩阵连接串口参数有误");
const QString NoCaptureDevice = QStringLiteral("无视频捕捉设备(卡)");

QPushButton* button(QWidget* parent, const QString& caption, const QRect& geometry)
{
    auto* b = new QPushButton(caption, parent);
    b->setGeometry(geometry);
    return b;
}

// The camera-head buttons' names, in the order of HeadFunctions.
const std::array<const char*, 10> HeadButtonNames{{"sbUp", "sbDown", "sbLeft", "sbRight", "sbZoomIn", "sbZoomOut",
                                                   "sbFocuIn", "sbFocuOut", "sbApertureIn", "sbApertureOut"}};

// Where each camera-head button sits in the pad, in the order of HeadFunctions.
const std::array<QRect, 10> HeadButtonPlaces{{
    {45, 155, 23, 22},   // up
    {45, 208, 23, 22},   // down
    {14, 181, 23, 22},   // left
    {74, 181, 23, 22},   // right
    {44, 54, 23, 22},    // zoom in
    {71, 55, 23, 22},    // zoom out
    {44, 81, 23, 22},    // focus in
    {71, 81, 23, 22},    // focus out
    {44, 108, 23, 22},   // aperture in
    {71, 108, 23, 22},   // aperture out
}};

}  // namespace

TfmVideo::TfmVideo(ConsoleServices services)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      services_(std::move(services)),
      MSerialPort(*services_.Serial)
{
    setObjectName(QStringLiteral("fmVideo"));
    setWindowTitle(QStringLiteral("视频处理"));
    setFont(ConsoleFont());
    setFixedSize(436, 351);
    buildWindow();
    FormCreate();
}

// FormDestroy: the link's threads stop before its ports close; the capture
// component closes its driver as it goes with the window.
TfmVideo::~TfmVideo()
{
    releaseHeadButtons();
    for (HeadButtonWidget* b : headButtons) {
        // The buttons go with the window's children, after the link below.
        b->onPress = nullptr;
        b->onRelease = nullptr;
    }
    MSerialPort.waitUntilSent(std::chrono::milliseconds(200));  // a last release must reach the head
    MSerialPort.StopThreads();
    MSerialPort.ClosePorts();
}

void TfmVideo::buildWindow()
{
    buildPictureAndPad();
    buildSwitchRow();
    buildButtonBar();
    setTabOrder(btParamSet, btShowSet);
    setTabOrder(btShowSet, btClose);
    setTabOrder(btClose, sePort);
    setTabOrder(sePort, btSwitch);
    setTabOrder(btSwitch, btRecord);
    setTabOrder(btRecord, btCapture);
    // Named as in the form's design, so that scripts and tests can find them.
    const std::pair<QWidget*, const char*> named[] = {
        {btParamSet, "btParamSet"}, {btShowSet, "btShowSet"}, {btClose, "btClose"}, {sePort, "sePort"},
        {btSwitch, "btSwitch"},     {btRecord, "btRecord"},   {btCapture, "btCapture"}, {lShow, "lShow"}};
    for (auto [widget, name] : named)
        widget->setObjectName(QLatin1String(name));
}

QFrame* TfmVideo::buildButtonBar()
{
    QFrame* bar = MakePanel(this, QRect(0, 307, 436, 44), QFrame::Plain);
    auto* bevel = new QFrame(bar);
    bevel->setGeometry(0, 0, 436, 2);
    bevel->setFrameShape(QFrame::HLine);
    bevel->setFrameShadow(QFrame::Sunken);
    btParamSet = button(bar, QStringLiteral("参数设置(&P)"), QRect(53, 14, 75, 25));
    btShowSet = button(bar, QStringLiteral("显示设置(&S)"), QRect(184, 13, 75, 25));
    btClose = button(bar, QStringLiteral("关闭(&C)"), QRect(341, 11, 75, 25));
    connect(btParamSet, &QPushButton::clicked, this, [this] {
        guarded([this] {
            if (services_.OpenSettings)
                services_.OpenSettings();
        });
    });
    connect(btShowSet, &QPushButton::clicked, this, [this] { guarded([this] { btShowSetClick(); }); });
    connect(btClose, &QPushButton::clicked, this, &QWidget::close);
    return bar;
}

QFrame* TfmVideo::buildPictureAndPad()
{
    QFrame* top = MakePanel(this, QRect(0, 0, 436, 242), QFrame::Sunken);
    QFrame* frame = MakePanel(top, QRect(1, 1, 322, 240), QFrame::Sunken);
    VideoCap = new TVideoCap(frame, *services_.Capture);
    VideoCap->setObjectName(QStringLiteral("VideoCap"));
    VideoCap->setGeometry(1, 1, 320, 238);
    VideoCap->setMicroSecPerFrame(50000);
    QFrame* pad = MakePanel(top, QRect(323, 1, 112, 240), QFrame::Plain);
    buildPad(pad);
    return top;
}

void TfmVideo::buildPad(QFrame* pad)
{
    MakeLabel(pad, QStringLiteral("--控制操作--"), 21, 15);
    MakeLabel(pad, QStringLiteral("缩放"), 14, 59);
    MakeLabel(pad, QStringLiteral("焦距"), 14, 86);
    MakeLabel(pad, QStringLiteral("光圈"), 14, 113);
    MakeLabel(pad, QStringLiteral("云台"), 44, 186);
    for (size_t i = 0; i < HeadFunctions.size(); ++i) {
        auto* b = new HeadButtonWidget(HeadFunctions[i].button, pad);
        b->setGeometry(HeadButtonPlaces[i]);
        b->setObjectName(QLatin1String(HeadButtonNames[i]));
        b->onPress = [this](HeadButton f) { matrix_->PressHeadButton(f); };
        b->onRelease = [this](HeadButton f) { matrix_->ReleaseHeadButton(f); };
        headButtons[i] = b;
    }
}

QFrame* TfmVideo::buildSwitchRow()
{
    QFrame* row = MakePanel(this, QRect(0, 242, 436, 65), QFrame::Plain);
    MakeLabel(row, QStringLiteral("视频口"), 14, 17);
    sePort = new SpinEdit(1, 100000, 1, row);
    sePort->setGeometry(63, 13, 49, 21);
    btSwitch = button(row, QStringLiteral("切换(Q)"), QRect(148, 12, 75, 22));
    btRecord = button(row, QStringLiteral("录制(&R)"), QRect(244, 12, 75, 22));
    btRecord->setVisible(false);  // nothing in the library shows it
    btCapture = button(row, QStringLiteral("抓拍(&Z)"), QRect(339, 12, 75, 22));
    MakeLabel(row, QStringLiteral("提  示"), 14, 45);
    lShow = MakeLabel(row, QStringLiteral("lShow"), 62, 45);
    lShow->setMinimumWidth(360);
    connect(btSwitch, &QPushButton::clicked, this, [this] { guarded([this] { SwitchToMonitor(sePort->number()); }); });
    connect(btCapture, &QPushButton::clicked, this, [this] { guarded([this] { TakeSnapshot(operatorName_); }); });
    connect(btRecord, &QPushButton::clicked, this, [this] { guarded([this] { btRecordClick(); }); });
    return row;
}

void TfmVideo::FormCreate()
{
    adoQuery.setConnectionString(services_.AdoString);
    ShownOnce = false;
    TPortParam line;
    TIniData settings;
    settings.ReadPortParam(line);
    SnapshotStore::Settings storage;
    storage.SaveToDatabase = settings.ReadSaveToDatabase();
    MatrixSettings matrix;
    matrix.MatrixPort = line.Port;
    matrix.MainMonitor = settings.ReadMonitorPort();
    matrix.LocalMonitor = settings.ReadLocalPort();
    storage.PictureDir = settings.ReadPictureDir();
    PortOpen = MSerialPort.OpenPort(line.Port, line.BaudRate, line.DataBits, line.Parity, float(line.StopBits));
    matrix.PortOpen = PortOpen;
    matrix_ = std::make_unique<MatrixControl>(MSerialPort, matrix);
    snapshots_ = std::make_unique<SnapshotStore>(*VideoCap, adoQuery, storage);
    if (PortOpen)
        MSerialPort.StartThreads();
    else
        lShow->setText(PortSettingsWrong);
}

void TfmVideo::ApplyParam(const QString& operatorName, const QString&)
{
    operatorName_ = operatorName;
    bool allowed = services_.HaveRight && services_.HaveRight(5);
    btShowSet->setVisible(allowed);
    btParamSet->setVisible(allowed);
}

// The console is a dialog-type window because X11 window managers keep only
// those above their owner; it is adopted afresh at each showing, before it
// is mapped, since the host may have handed over another window meanwhile.
void TfmVideo::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    Application::adopt(this);
    guarded([this] { FormShow(); });
}

// The first showing connects the capture driver; later ones change nothing.
void TfmVideo::FormShow()
{
    if (ShownOnce)
        return;
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    if (PortOpen)
        lShow->clear();
    ShownOnce = true;
    VideoCap->setDriverIndex(TIniData().ReadCardIndex());
    if (VideoCap->EnsureDriverOpen()) {
        VideoCap->SingleImageFile = QStringLiteral("Capture.bmp");
        VideoCap->setVideoOverlay(true);
        VideoCap->setVideoPreview(false);
        VideoCap->setPreviewScaleToWindow(true);
    } else {
        lShow->setText(NoCaptureDevice);
    }
    EnableControls(PortOpen);
}

void TfmVideo::EnableControls(bool enabled)
{
    for (HeadButtonWidget* b : headButtons)
        b->setEnabled(enabled);
    for (QPushButton* b : {btSwitch, btRecord, btCapture, btShowSet})
        b->setEnabled(enabled);
}

// FormCloseQuery: closing only hides.
void TfmVideo::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}

void TfmVideo::hideEvent(QHideEvent* event)
{
    releaseHeadButtons();
    QWidget::hideEvent(event);
}

// Another window or program took the focus: a held button gets no release.
void TfmVideo::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        releaseHeadButtons();
    QWidget::changeEvent(event);
}

void TfmVideo::releaseHeadButtons()
{
    for (HeadButtonWidget* b : headButtons)
        if (b)
            b->releaseIfHeld();
}

// A snapshot in database mode waits in its statement box, whose event loop
// lets the host and the user act. A snapshot asked for meanwhile takes its
// frame at once and waits its turn, in order, rather than stacking boxes;
// past a bound it is refused. The console may be gone when a box closes:
// then nothing more of it is touched.
void TfmVideo::TakeSnapshot(const QString& operatorArgument)
{
    if (snapshotRunning_) {
        if (waitingSnapshots_.size() >= MaxWaitingSnapshots) {
            logLine("snapshot", "refused: " + std::to_string(MaxWaitingSnapshots) +
                                    " snapshots already wait for the statement box to close");
            return;
        }
        waitingSnapshots_.push_back(snapshots_->Grab(operatorArgument, operatorName_, matrix_->CurrentPort()));
        return;
    }
    snapshotRunning_ = true;
    QPointer<TfmVideo> self(this);
    SnapshotStore::Grabbed next = snapshots_->Grab(operatorArgument, operatorName_, matrix_->CurrentPort());
    for (;;) {
        lShow->clear();
        QString status = snapshots_->Store(next);
        if (!self)
            return;
        lShow->setText(status);
        if (waitingSnapshots_.empty())
            break;
        next = std::move(waitingSnapshots_.front());
        waitingSnapshots_.pop_front();
    }
    snapshotRunning_ = false;
}

void TfmVideo::SnapshotFromHost()
{
    if (PortOpen)
        TakeSnapshot(QString());
}

void TfmVideo::btShowSetClick()
{
    if (VideoCap->HasVideoFormatDialog())
        VideoCap->ShowVideoFormatDialog();
}

void TfmVideo::btRecordClick()
{
    if (recordTag_ == 1) {
        recordTag_ = 0;
        VideoCap->StopCapture();
        btRecord->setText(QStringLiteral("录制(&R)"));
        return;
    }
    QFileDialog dialog(this, QStringLiteral("选择录制文件名"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("视频文件(*.AVI) (*.avi *.AVI)"));
    dialog.setDefaultSuffix(QStringLiteral("avi"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    recordTag_ = 1;
    btRecord->setText(QStringLiteral("停止(&S)"));
    VideoCap->VideoFileName = dialog.selectedFiles().first();
    VideoCap->StartCapture();
}

}  // namespace tarvelo
