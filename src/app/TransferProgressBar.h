#pragma once
// The status bar's view of a file transfer: a bar filled to the share of the announced
// length (a busy bar without one) and the bytes and rate beside it. Hidden between
// transfers.
#include "service/TransferMeter.h"

#include <QWidget>
#include <cstdint>

class QLabel;
class QProgressBar;

namespace qm {

class TransferProgressBar : public QWidget {
public:
    explicit TransferProgressBar(QWidget* parent = nullptr);

    // Shows the transfer as it stands; the first call after finish() starts a new one.
    void progress(std::int64_t received, std::int64_t total);
    void finish();

    const QProgressBar* bar() const { return bar_; }
    QString text() const;

private:
    TransferMeter meter_;
    QProgressBar* bar_;
    QLabel* text_;
    bool running_ = false;
};

} // namespace qm
