#pragma once
// TfmVideo: the video console. The live picture of the capture card, the
// switching row, the camera-head pad, snapshots and the status label. It
// owns the matrix link, the capture component and the snapshot store, reads
// its settings once when it is created, and hides instead of closing.

#include "capture/Video.h"
#include "console/HeadButton.h"
#include "matrix/MatrixControl.h"
#include "console/SnapshotStore.h"
#include "framework/QueryObject.h"
#include "serial/MSerialPort.h"

#include <QWidget>
#include <array>
#include <deque>
#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QPushButton;

namespace tarvelo {

class SpinEdit;

// What the console is given by whoever makes it.
struct ConsoleServices {
    QString AdoString;                                  // the connection string at creation
    std::function<bool(int32_t right)> HaveRight;       // the host's answer to a right
    std::function<void()> OpenSettings;                 // the settings dialog; none yet when empty
    SerialPlatform* Serial = &SystemSerialPlatform();   // where the matrix line is
    CaptureService* Capture = &SystemCaptureService();  // where the picture comes from
};

class TfmVideo final : public QWidget {
    Q_OBJECT
public:
    explicit TfmVideo(ConsoleServices services);
    ~TfmVideo() override;  // FormDestroy

    void ApplyParam(const QString& operatorName, const QString& extraParam);
    void SwitchToMonitor(int32_t camera) { matrix_->SwitchToMonitor(camera); }
    void SwitchToTV(int32_t camera) { matrix_->SwitchToTV(camera); }
    void SnapshotFromHost();
    void TakeSnapshot(const QString& operatorName);

    const MatrixControl& matrix() const { return *matrix_; }
    SnapshotStore& snapshots() { return *snapshots_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // What a user sees, named as in the window's design.
    QLabel* lShow = nullptr;
    QPushButton* btParamSet = nullptr;
    QPushButton* btShowSet = nullptr;
    QPushButton* btClose = nullptr;
    SpinEdit* sePort = nullptr;
    QPushButton* btSwitch = nullptr;
    QPushButton* btRecord = nullptr;
    QPushButton* btCapture = nullptr;
    TVideoCap* VideoCap = nullptr;
    std::array<HeadButtonWidget*, 10> headButtons{};  // in the order of HeadFunctions

    void buildWindow();
    QFrame* buildButtonBar();
    QFrame* buildPictureAndPad();
    QFrame* buildSwitchRow();
    void buildPad(QFrame* pad);
    void FormCreate();
    void FormShow();
    void EnableControls(bool enabled);
    void btRecordClick();
    void btShowSetClick();
    void releaseHeadButtons();

    ConsoleServices services_;
    TMSerialPort MSerialPort;
    QueryObject adoQuery;
    std::unique_ptr<MatrixControl> matrix_;
    std::unique_ptr<SnapshotStore> snapshots_;
    bool ShownOnce = false;
    bool PortOpen = false;
    QString operatorName_;
    int recordTag_ = 0;  // 1 while recording
    bool snapshotRunning_ = false;
    static constexpr size_t MaxWaitingSnapshots = 16;
    std::deque<SnapshotStore::Grabbed> waitingSnapshots_;
};

}  // namespace tarvelo
