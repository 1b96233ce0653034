#include "shell/Pictures.h"

#include <QImage>

namespace shell {

QPixmap Picture(std::string_view name)
{
    for (int i = 0; i < kEmbeddedPictureCount; ++i) {
        const EmbeddedPicture &picture = kEmbeddedPictures[i];
        if (name != picture.name)
            continue;
        // The image only borrows the compiled-in pixels; the pixmap takes a copy of its own.
        QImage image(picture.bits, picture.width, picture.height, picture.width * 4,
                     QImage::Format_ARGB32_Premultiplied);
        image.setDotsPerMeterX(picture.dotsPerMeterX);
        image.setDotsPerMeterY(picture.dotsPerMeterY);
        return QPixmap::fromImage(image);
    }
    return {};
}

}  // namespace shell
