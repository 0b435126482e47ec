#pragma once
// The publisher's logo: a globe crossed by an orbit. The windows show it at its design
// size; the desktop's icon theme gets the same shapes as scalable and bitmap icons.
#include <QImage>
#include <QPixmap>
#include <string>

class QPainter;

namespace qm {

// The side of the square the logo was designed on, in pixels.
inline constexpr int kLogoSide = 65;

// Paints the logo into the square (0, 0, side, side) of the painter.
void paintPublisherLogo(QPainter& painter, double side);
// At the design size, for the main window, the about box and the program icon.
QPixmap publisherLogo();
// A square image of any size with a transparent background, for icon files.
QImage publisherLogoImage(int side);
// The same shapes as a scalable vector image.
std::string publisherLogoSvg();

} // namespace qm
