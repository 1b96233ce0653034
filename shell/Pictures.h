#pragma once
// The main window's pictures and its icon. The pictures are kept as PNG files in shell/pictures/,
// the icon is drawn by the tray icon's code; both are compiled in at build time as ready pixels
// (tools/pictures/), so that building and showing the window decodes and draws no image: taking
// a picture costs one copy of its pixels.
#include <QIcon>
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
// The window's icon at each size the tray icon offers (generated at build time).
extern const EmbeddedPicture kEmbeddedWindowIcon[];
extern const int kEmbeddedWindowIconCount;

// The picture of that file name ("device.png") as loading the file would give it; a null pixmap
// when there is none.
QPixmap Picture(std::string_view name);

// The window's icon: the tray icon's still image (fw::TrayIconImage) at each of its sizes. The
// window manager takes every size at once when the window is shown.
QIcon WindowIcon();

}  // namespace shell
