#pragma once
// The main window's pictures. They are kept as PNG files in shell/pictures/ and compiled in at
// build time as ready pixels (tools/pictures/EmbedPictures.cpp), so that building the window
// decodes no image: taking a picture costs one copy of its pixels.
#include <QPixmap>
#include <string_view>

namespace shell {

// One picture: its file name, size, resolution and rows of premultiplied ARGB32 pixels.
struct EmbeddedPicture {
    const char *name;
    int width;
    int height;
    int dotsPerMeterX;
    int dotsPerMeterY;
    const unsigned char *bits;
};
// Every picture of shell/pictures/ (generated at build time).
extern const EmbeddedPicture kEmbeddedPictures[];
extern const int kEmbeddedPictureCount;

// The picture of that file name ("device.png") as loading the file would give it; a null pixmap
// when there is none.
QPixmap Picture(std::string_view name);

}  // namespace shell
