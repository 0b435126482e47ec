// Build-time tool: writes the program's icon for the desktop's icon theme, as the
// hicolor tree wants it: <folder>/scalable/apps/quillmaren.svg and
// <folder>/<n>x<n>/apps/quillmaren.png for every size given.
#include "app/PublisherLogo.h"

#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [SIZE...]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];

    const std::string svgFolder = root + "/scalable/apps";
    QDir().mkpath(QString::fromStdString(svgFolder));
    std::ofstream svg(svgFolder + "/quillmaren.svg", std::ios::binary | std::ios::trunc);
    svg << qm::publisherLogoSvg();
    svg.close();
    if (!svg) {
        std::fprintf(stderr, "%s: cannot write %s/quillmaren.svg\n", argv[0], svgFolder.c_str());
        return 1;
    }

    for (int i = 2; i < argc; ++i) {
        const int side = std::atoi(argv[i]);
        if (side <= 0 || side > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const std::string folder = root + "/" + std::to_string(side) + "x" + std::to_string(side) + "/apps";
        QDir().mkpath(QString::fromStdString(folder));
        const std::string file = folder + "/quillmaren.png";
        if (!qm::publisherLogoImage(side).save(QString::fromStdString(file), "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], file.c_str());
            return 1;
        }
    }
    return 0;
}
