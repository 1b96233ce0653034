// Build-time helper: draws the window's icon, the tray icon's still image (widgets/TrayIcon.h), at
// every size it offers and writes the images as a C++ source of ready pixels, so that showing the
// window draws no icon. The table's type is shell::EmbeddedPicture (shell/Pictures.h).
//   drovanel-embed-window-icon OUTPUT.cpp
#include "PictureSource.h"
#include "widgets/TrayIcon.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drovanel-embed-window-icon OUTPUT.cpp\n");
        return 1;
    }
    pictures::PictureSource source;
    for (const int side : fw::kTrayIconSizes)
        source.Add("window-icon-" + std::to_string(side), fw::TrayIconImage(side));
    return source.Write(argv[1], "drovanel-embed-window-icon", "kEmbeddedWindowIcon", "kEmbeddedWindowIconCount") ? 0
                                                                                                                  : 1;
}
