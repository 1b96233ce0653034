// Build-time helper: decodes the main window's PNG pictures and writes them as a C++ source of
// ready pixels (premultiplied ARGB32, as a pixmap holds them), so that the program decodes no image
// when it builds its window. The table's type is shell::EmbeddedPicture (shell/Pictures.h).
//   drovanel-embed-pictures OUTPUT.cpp PICTURE.png...
#include "PictureSource.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: drovanel-embed-pictures OUTPUT.cpp PICTURE.png...\n");
        return 1;
    }
    pictures::PictureSource source;
    for (int i = 2; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        const QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        source.Add(QFileInfo(path).fileName().toStdString(), image);
    }
    return source.Write(argv[1], "drovanel-embed-pictures from shell/pictures/", "kEmbeddedPictures",
                        "kEmbeddedPictureCount")
               ? 0
               : 1;
}
