#pragma once
// The application's style: the platform's own style, unchanged in every look, except that the
// standard icons of the extension buttons that menu bars and tool bars build at once (shown only
// when their items do not fit) are read when first drawn. Reading such an icon is the first image
// a program reads, which loads every image format plugin to ask it about the file.
#include <QProxyStyle>

namespace fw {

class TApplicationStyle final : public QProxyStyle {
    Q_OBJECT
public:
    TApplicationStyle();
    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};

// Makes TApplicationStyle the application's style; before the first widget is built.
void InstallApplicationStyle();

}  // namespace fw
