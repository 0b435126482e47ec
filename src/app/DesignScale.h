#pragma once
// The forms were laid out in pixels for one font. On a desktop whose font is larger,
// every design rectangle grows by the ratio of the font's metrics to the design
// font's: horizontally by the average character width, vertically by the line height.
// A smaller font keeps the design's pixels, so nothing ever shrinks below the design.
#include <QFont>
#include <QRect>
#include <QSize>

namespace qm {

class DesignScale {
public:
    // The design font: "Sans Serif" 9 point at 96 dots per inch, whose 52 letters
    // "A".."Z", "a".."z" span 385 pixels and whose lines are 14 pixels high.
    static constexpr int kDesignAlphabetWidth = 385;
    static constexpr int kDesignLineHeight = 14;

    explicit DesignScale(const QFont& font);
    DesignScale(double x, double y);

    double xRatio() const { return x_; }
    double yRatio() const { return y_; }
    int x(int designX) const;
    int y(int designY) const;
    // Scales both edges, so rectangles that touch in the design still touch and
    // rectangles apart in the design stay apart.
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

private:
    double x_;
    double y_;
};

} // namespace qm
