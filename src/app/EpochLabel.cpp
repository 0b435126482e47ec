#include "app/EpochLabel.h"

namespace qm {

EpochLabel::EpochLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    refreshTimer_.setInterval(kRefreshInterval);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });
    hide();
}

void EpochLabel::setEpoch(const std::optional<TleEpoch>& epoch)
{
    epoch_ = epoch;
    if (!epoch_) {
        refreshTimer_.stop();
        clear();
        hide();
        return;
    }
    refresh();
    show();
    refreshTimer_.start();
}

void EpochLabel::refresh()
{
    if (epoch_)
        setText(QString::fromStdString(epochLine(*epoch_, clock())));
}

std::string EpochLabel::line() const
{
    return text().toStdString();
}

} // namespace qm
