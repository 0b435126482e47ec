#include "app/TransferProgressBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>

namespace qm {

namespace {
constexpr int kPermille = 1000;
} // namespace

TransferProgressBar::TransferProgressBar(QWidget* parent)
    : QWidget(parent)
    , bar_(new QProgressBar(this))
    , text_(new QLabel(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    bar_->setTextVisible(false);
    // Its value (permille) is what a screen reader reads; the text beside it is a label.
    bar_->setAccessibleName(QStringLiteral("Transfer progress"));
    // As tall as a line of text, so that it fits the status bar's design height.
    bar_->setMaximumHeight(text_->fontMetrics().height());
    // Both of fixed widths, so the bar stands still while the text changes: room for
    // the longest text the meter writes ("1023.9 KiB" comes before "1.0 MiB").
    bar_->setFixedWidth(text_->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 8);
    int widest = 0;
    for (const char* unit : {"KiB", "MiB", "GiB"})
        widest = std::max(widest,
            text_->fontMetrics().horizontalAdvance(
                QStringLiteral("1023.9 %1 of 1023.9 %1, 1023.9 %1/s").arg(QLatin1String(unit))));
    text_->setFixedWidth(widest);
    text_->setTextFormat(Qt::PlainText);
    row->addWidget(bar_);
    row->addWidget(text_);
    hide();
}

void TransferProgressBar::progress(std::int64_t received, std::int64_t total)
{
    if (!running_) {
        running_ = true;
        meter_.reset();
        show();
    }
    meter_.update(received, total, TransferMeter::Clock::now());
    if (const std::optional<int> share = meter_.permille()) {
        bar_->setRange(0, kPermille);
        bar_->setValue(*share);
    } else {
        bar_->setRange(0, 0); // busy: nothing says how much is to come
    }
    text_->setText(QString::fromStdString(meter_.text()));
}

void TransferProgressBar::finish()
{
    running_ = false;
    hide();
    bar_->setRange(0, kPermille);
    bar_->reset();
    text_->clear();
}

QString TransferProgressBar::text() const
{
    return text_->text();
}

} // namespace qm
