#include "app/PublisherLogo.h"

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <charconv>
#include <cstdio>

namespace qm {

namespace {

// One ellipse of the logo on the design square: filled when `pen` is 0, otherwise
// outlined with a line of that width.
struct Shape {
    double x, y, width, height;
    int red, green, blue;
    double pen;
};

constexpr Shape kShapes[] = {
    {14, 14, 37, 37, 20, 60, 140, 0}, // the globe
    {3, 24, 59, 17, 230, 160, 20, 3}, // the orbit
    {52, 25, 8, 8, 230, 160, 20, 0}, // the satellite on it
};

// Independent of the locale: an SVG number always has a decimal point.
std::string number(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string colour(const Shape& s)
{
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", s.red, s.green, s.blue);
    return text;
}

} // namespace

void paintPublisherLogo(QPainter& painter, double side)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / kLogoSide, side / kLogoSide);
    for (const Shape& s : kShapes) {
        const QColor c(s.red, s.green, s.blue);
        if (s.pen > 0) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(c, s.pen));
        } else {
            painter.setBrush(c);
            painter.setPen(Qt::NoPen);
        }
        painter.drawEllipse(QRectF(s.x, s.y, s.width, s.height));
    }
    painter.restore();
}

QPixmap publisherLogo()
{
    return QPixmap::fromImage(publisherLogoImage(kLogoSide));
}

QImage publisherLogoImage(int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintPublisherLogo(painter, side);
    painter.end();
    return image;
}

std::string publisherLogoSvg()
{
    const std::string side = std::to_string(kLogoSide);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\""
        + side + "\" height=\"" + side + "\" viewBox=\"0 0 " + side + " " + side + "\">\n";
    for (const Shape& s : kShapes) {
        svg += "  <ellipse cx=\"" + number(s.x + s.width / 2) + "\" cy=\"" + number(s.y + s.height / 2) + "\" rx=\""
            + number(s.width / 2) + "\" ry=\"" + number(s.height / 2) + "\"";
        if (s.pen > 0)
            svg += " fill=\"none\" stroke=\"" + colour(s) + "\" stroke-width=\"" + number(s.pen) + "\"";
        else
            svg += " fill=\"" + colour(s) + "\"";
        svg += "/>\n";
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace qm
