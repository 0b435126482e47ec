#pragma once
// Turns SIGTERM and SIGINT into a call on the event loop. The signal handler only
// writes a byte to a pipe; the callback runs later, on the user-interface thread.
#include <QObject>
#include <functional>

class QSocketNotifier;

namespace qm {

class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~ShutdownSignals() override;
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

private:
    void drain();
    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace qm
