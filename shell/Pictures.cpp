#include "shell/Pictures.h"

#include <QImage>

namespace shell {

namespace {

QPixmap pixmapOf(const EmbeddedPicture &picture)
{
    // The image only borrows the compiled-in pixels; the pixmap takes a copy of its own.
    QImage image(picture.bits, picture.width, picture.height, picture.width * 4, QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(picture.dotsPerMeterX);
    image.setDotsPerMeterY(picture.dotsPerMeterY);
    return QPixmap::fromImage(image);
}

}  // namespace

QPixmap Picture(std::string_view name)
{
    for (int i = 0; i < kEmbeddedPictureCount; ++i) {
        if (name == kEmbeddedPictures[i].name)
            return pixmapOf(kEmbeddedPictures[i]);
    }
    return {};
}

QIcon WindowIcon()
{
    QIcon icon;
    for (int i = 0; i < kEmbeddedWindowIconCount; ++i)
        icon.addPixmap(pixmapOf(kEmbeddedWindowIcon[i]));
    return icon;
}

}  // namespace shell
