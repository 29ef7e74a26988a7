#pragma once
// Turns SIGTERM, SIGINT and SIGHUP into a normal quit through the event loop, so destructors run
// (the typing keycodes are emptied, a due clipboard restore happens, the log is flushed). A
// second signal of the same kind ends the process the default way, in case the loop is stuck.
// One instance per process, created on the main thread after the application object.

#include <QObject>

class QSocketNotifier;

namespace quorvel {

class QuitOnSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignals(QObject* parent = nullptr);
    ~QuitOnSignals() override;  // puts the default handling back

    // The signal that ended the loop, 0 when none did (for a command's exit status).
    int receivedSignal() const { return received_; }

    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;

private:
    void onSignal();

    QSocketNotifier* notifier_ = nullptr;
    int received_ = 0;
};

}  // namespace quorvel
