#pragma once
// The status bar's freshness note: the newest epoch of the catalogue the last
// processing run checked, and its age ("Epoch 2026-12-06, 1.2 days old"). The age
// is brought up to date while the window stays open.
#include "catalogue/Epoch.h"

#include <QLabel>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace qm {

class EpochLabel : public QLabel {
public:
    explicit EpochLabel(QWidget* parent = nullptr);

    // Shows the epoch, or hides the note when there is none.
    void setEpoch(const std::optional<TleEpoch>& epoch);
    const std::optional<TleEpoch>& epoch() const { return epoch_; }
    // The note as shown; empty while hidden.
    std::string line() const;
    // Recomputes the age from the clock.
    void refresh();

    // The local clock; tests set their own.
    std::function<std::chrono::system_clock::time_point()> clock = [] { return std::chrono::system_clock::now(); };
    static constexpr std::chrono::minutes kRefreshInterval{1};

private:
    std::optional<TleEpoch> epoch_;
    QTimer refreshTimer_;
};

} // namespace qm
