#pragma once
// The host's window under our modal windows: while one of them shows (a
// query or playback window, the settings dialog, a message box), the host's
// window takes no input, as under a modal window of the host's own; the
// host cannot then click into its own window, call us again from it or
// close it underneath our loop. A host timer can still call us.

#include <QObject>
#include <QSet>
#include <cstdint>

class QWidget;

namespace tarvelo {

class HostModality : public QObject {
    Q_OBJECT

public:
    using OwnerWindow = uintptr_t (*)();

    // Watches the application's windows from now on; once per application.
    // `owner` names the host's window of the moment.
    static void watch(OwnerWindow owner);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    HostModality(QObject* application, OwnerWindow owner);
    void shown(QWidget* window);
    void gone(QObject* window);
    void update();

    OwnerWindow owner_;
    QSet<QObject*> modalShown_;
    uintptr_t disabledOwner_ = 0;  // the host window we disabled, if any
};

}  // namespace tarvelo
