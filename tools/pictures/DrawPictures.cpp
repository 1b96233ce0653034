// Draws the main window's pictures into PNG files (the decorative picture, the new-map mark and
// the button pictures). Run once when a picture changes; the PNGs are kept in the repository and
// compiled in as resources.
//   drovanel-draw-pictures OUTPUT_FOLDER
#include <QDir>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

QImage blank(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void ball(QPainter &p, QPointF centre, double r, QColor colour)
{
    QRadialGradient g(centre - QPointF(r * 0.35, r * 0.35), r * 1.3);
    g.setColorAt(0, Qt::white);
    g.setColorAt(0.35, colour.lighter(120));
    g.setColorAt(1, colour.darker(170));
    p.setPen(QPen(colour.darker(220), 0.8));
    p.setBrush(g);
    p.drawEllipse(centre, r, r);
}

// A box holding a small GPS alert device wired to a dozen ball-shaped points.
QImage device()
{
    QImage image = blank(147, 141);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(3.5, 3.5, 140, 134);
    QLinearGradient boxFill(box.topLeft(), box.bottomRight());
    boxFill.setColorAt(0, QColor(0xf4, 0xf8, 0xfc));
    boxFill.setColorAt(1, QColor(0xc9, 0xd8, 0xea));
    p.setPen(QPen(QColor(0x5b, 0x76, 0x99), 2));
    p.setBrush(boxFill);
    p.drawRoundedRect(box, 12, 12);

    const QPointF centre = box.center();
    const QColor colours[] = {QColor(0xe5, 0x39, 0x35), QColor(0xfb, 0x8c, 0x00), QColor(0xfd, 0xd8, 0x35),
                              QColor(0x43, 0xa0, 0x47), QColor(0x1e, 0x88, 0xe5), QColor(0x8e, 0x24, 0xaa)};
    QPointF points[12];
    for (int i = 0; i < 12; ++i) {
        const double a = i * std::numbers::pi / 6 + 0.26;
        points[i] = centre + QPointF(std::cos(a) * 54, std::sin(a) * 50);
    }
    p.setPen(QPen(QColor(0x44, 0x55, 0x66), 1.2));
    for (const QPointF &pt : points)
        p.drawLine(centre, pt);
    for (int i = 0; i < 12; ++i)
        ball(p, points[i], 7, colours[i % 6]);

    // The device: a dark body with a screen and a button.
    const QRectF body(centre.x() - 22, centre.y() - 15, 44, 30);
    QLinearGradient bodyFill(body.topLeft(), body.bottomLeft());
    bodyFill.setColorAt(0, QColor(0x4a, 0x4f, 0x57));
    bodyFill.setColorAt(1, QColor(0x1d, 0x20, 0x25));
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(bodyFill);
    p.drawRoundedRect(body, 6, 6);
    const QRectF screen = body.adjusted(5, 5, -15, -5);
    QLinearGradient screenFill(screen.topLeft(), screen.bottomRight());
    screenFill.setColorAt(0, QColor(0x9c, 0xe0, 0xff));
    screenFill.setColorAt(1, QColor(0x2b, 0x7b, 0xc0));
    p.setBrush(screenFill);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(screen, 2, 2);
    ball(p, QPointF(body.right() - 7.5, body.center().y()), 3.5, QColor(0xe5, 0x39, 0x35));
    return image;
}

// The new-map mark: the red words "Existe nuevo mapa", as large as 107 by 12 pixels allow.
QImage newMapMark()
{
    QImage image = blank(107, 12);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QString text = QStringLiteral("Existe nuevo mapa");
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setBold(true);
    for (int px = 12; px >= 7; --px) {
        font.setPixelSize(px);
        const QFontMetrics fm(font);
        if (fm.horizontalAdvance(text) <= 106 && fm.ascent() + fm.descent() <= 13)
            break;
    }
    p.setFont(font);
    p.setPen(QColor(255, 0, 0));
    p.drawText(QRect(0, 0, 107, 12), Qt::AlignCenter, text);
    return image;
}

// "Descargar": a green arrow down onto a tray.
QImage downloadGlyph()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(6, 1.5);
    arrow.lineTo(10, 1.5);
    arrow.lineTo(10, 7);
    arrow.lineTo(13, 7);
    arrow.lineTo(8, 12);
    arrow.lineTo(3, 7);
    arrow.lineTo(6, 7);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(0x1b, 0x5e, 0x20), 1));
    p.setBrush(QColor(0x43, 0xa0, 0x47));
    p.drawPath(arrow);
    p.setPen(QPen(QColor(0x37, 0x47, 0x4f), 1.5));
    p.drawLine(QPointF(2, 14.5), QPointF(14, 14.5));
    return image;
}

// "Guardar": a blue disk.
QImage saveGlyph()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x0d, 0x47, 0xa1), 1));
    p.setBrush(QColor(0x1e, 0x88, 0xe5));
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 1.5, 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 2, 8, 5));
    p.setBrush(QColor(0xcf, 0xd8, 0xdc));
    p.drawRect(QRectF(4, 10, 8, 4.5));
    p.setBrush(QColor(0x0d, 0x47, 0xa1));
    p.drawRect(QRectF(9, 3, 2, 3));
    return image;
}

// The folder field's browse button: a yellow folder.
QImage folderGlyph()
{
    QImage image = blank(16, 16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(14.5, 5);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.setPen(QPen(QColor(0xa6, 0x7c, 0x00), 1));
    p.setBrush(QColor(0xff, 0xca, 0x28));
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(1.5, 13.5);
    front.lineTo(3.5, 7.5);
    front.lineTo(15.5, 7.5);
    front.lineTo(14.5, 13.5);
    front.closeSubpath();
    p.setBrush(QColor(0xff, 0xe0, 0x82));
    p.drawPath(front);
    return image;
}

}  // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drovanel-draw-pictures OUTPUT_FOLDER\n");
        return 1;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const struct {
        const char *name;
        QImage image;
    } pictures[] = {
        {"device.png", device()},  {"newmap.png", newMapMark()},  {"download.png", downloadGlyph()},
        {"save.png", saveGlyph()}, {"folder.png", folderGlyph()},
    };
    for (const auto &picture : pictures) {
        if (!picture.image.save(out.filePath(QString::fromLatin1(picture.name)))) {
            std::fprintf(stderr, "cannot write %s\n", picture.name);
            return 1;
        }
    }
    return 0;
}
