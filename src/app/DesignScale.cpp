#include "app/DesignScale.h"

#include <QFontMetrics>
#include <algorithm>
#include <cmath>

namespace qm {

namespace {

double alphabetWidth(const QFontMetrics& metrics)
{
    return metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
}

} // namespace

DesignScale::DesignScale(const QFont& font)
    : DesignScale(alphabetWidth(QFontMetrics(font)) / kDesignAlphabetWidth,
        static_cast<double>(QFontMetrics(font).height()) / kDesignLineHeight)
{
}

DesignScale::DesignScale(double x, double y)
    : x_(std::max(1.0, x))
    , y_(std::max(1.0, y))
{
}

int DesignScale::x(int designX) const
{
    return static_cast<int>(std::lround(designX * x_));
}

int DesignScale::y(int designY) const
{
    return static_cast<int>(std::lround(designY * y_));
}

QRect DesignScale::rect(int left, int top, int width, int height) const
{
    const int l = x(left);
    const int t = y(top);
    return {l, t, x(left + width) - l, y(top + height) - t};
}

QSize DesignScale::size(int width, int height) const
{
    return {x(width), y(height)};
}

} // namespace qm
