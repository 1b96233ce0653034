// Draws the program's icon: the scalable SVG and PNG files at the sizes desktops ask for, all from
// one description of its shapes, so the sizes never drift apart. The build runs it.
//   drovanel-draw-icon OUTPUT_FOLDER SIZE...
// writes OUTPUT_FOLDER/drovanel.svg and OUTPUT_FOLDER/<SIZE>/drovanel.png for each SIZE.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>
#include <QTextStream>
#include <cstdio>
#include <variant>
#include <vector>

namespace {

// The icon is drawn on a canvas of 256 units.
constexpr double kCanvas = 256;

struct RoundRect {
    QRectF rect;
    double radius;
    QColor top, bottom;  // a vertical gradient
};
struct Polygon {
    QPolygonF points;
    QColor fill;
};
struct Circle {
    QPointF centre;
    double radius;
    QColor fill;
};
// A ring segment: an arc stroked with round ends; angles in degrees, counter-clockwise from 3 o'clock.
struct Arc {
    QPointF centre;
    double radius, from, span, width;
    QColor stroke;
};
// The map pin: a circle drawn out into a point below it.
struct Pin {
    QPointF centre;
    double radius;
    double tipY;
    QColor fill;
};
using Shape = std::variant<RoundRect, Polygon, Circle, Arc, Pin>;

// A road running into the distance under a map pin sending out warning waves.
std::vector<Shape> Shapes()
{
    const QColor white(0xff, 0xff, 0xff);
    return {
        RoundRect{{8, 8, 240, 240}, 44, QColor(0x2b, 0x6c, 0xb0), QColor(0x12, 0x35, 0x5f)},
        Polygon{QPolygonF({{110, 120}, {146, 120}, {236, 256}, {20, 256}}), QColor(0x3c, 0x41, 0x48)},
        Polygon{QPolygonF({{125, 178}, {131, 178}, {133, 200}, {123, 200}}), white},
        Polygon{QPolygonF({{121, 218}, {135, 218}, {138, 256}, {118, 256}}), white},
        Arc{{128, 92}, 60, 28, 44, 12, QColor(0x7c, 0xe0, 0x6a)},
        Arc{{128, 92}, 60, 108, 44, 12, QColor(0x7c, 0xe0, 0x6a)},
        Arc{{128, 92}, 86, 34, 34, 12, QColor(0xfd, 0xd8, 0x35)},
        Arc{{128, 92}, 86, 112, 34, 12, QColor(0xfd, 0xd8, 0x35)},
        Pin{{128, 92}, 38, 166, QColor(0xe5, 0x39, 0x35)},
        Circle{{128, 92}, 15, white},
    };
}

QString Svg(const QColor &c)
{
    return c.name(QColor::HexRgb);
}
QString Num(double v)
{
    return QString::number(v, 'g', 6);
}

// The pin's outline: a circle whose lower part narrows into a point at tipY.
QPainterPath PinPath(const Pin &pin)
{
    QPainterPath path;
    const double r = pin.radius;
    path.moveTo(pin.centre.x(), pin.tipY);
    path.cubicTo(pin.centre.x() - r * 0.35, pin.tipY - r * 0.9, pin.centre.x() - r, pin.centre.y() + r * 0.7,
                 pin.centre.x() - r, pin.centre.y());
    path.arcTo(QRectF(pin.centre.x() - r, pin.centre.y() - r, 2 * r, 2 * r), 180, -180);
    path.cubicTo(pin.centre.x() + r, pin.centre.y() + r * 0.7, pin.centre.x() + r * 0.35, pin.tipY - r * 0.9,
                 pin.centre.x(), pin.tipY);
    path.closeSubpath();
    return path;
}

void Paint(QPainter &p, const Shape &shape)
{
    if (const auto *s = std::get_if<RoundRect>(&shape)) {
        QLinearGradient g(s->rect.topLeft(), s->rect.bottomLeft());
        g.setColorAt(0, s->top);
        g.setColorAt(1, s->bottom);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(s->rect, s->radius, s->radius);
        return;
    }
    if (const auto *s = std::get_if<Polygon>(&shape)) {
        p.setPen(Qt::NoPen);
        p.setBrush(s->fill);
        p.drawPolygon(s->points);
        return;
    }
    if (const auto *s = std::get_if<Circle>(&shape)) {
        p.setPen(Qt::NoPen);
        p.setBrush(s->fill);
        p.drawEllipse(s->centre, s->radius, s->radius);
        return;
    }
    if (const auto *s = std::get_if<Arc>(&shape)) {
        p.setPen(QPen(s->stroke, s->width, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        QPainterPath path;
        const QRectF box(s->centre.x() - s->radius, s->centre.y() - s->radius, 2 * s->radius, 2 * s->radius);
        path.arcMoveTo(box, s->from);
        path.arcTo(box, s->from, s->span);
        p.drawPath(path);
        return;
    }
    const auto &pin = std::get<Pin>(shape);
    p.setPen(Qt::NoPen);
    p.setBrush(pin.fill);
    p.drawPath(PinPath(pin));
}

// SVG path data of a painter path made of lines and cubic curves (arcTo gives cubic curves).
QString PathData(const QPainterPath &path)
{
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
        case QPainterPath::MoveToElement: d += "M" + Num(e.x) + " " + Num(e.y) + " "; break;
        case QPainterPath::LineToElement: d += "L" + Num(e.x) + " " + Num(e.y) + " "; break;
        case QPainterPath::CurveToElement: d += "C" + Num(e.x) + " " + Num(e.y) + " "; break;
        case QPainterPath::CurveToDataElement: d += Num(e.x) + " " + Num(e.y) + " "; break;
        }
    }
    return d.trimmed();
}

QString SvgElement(const Shape &shape, int index)
{
    if (const auto *s = std::get_if<RoundRect>(&shape)) {
        const QString id = QStringLiteral("g%1").arg(index);
        return QStringLiteral("  <defs><linearGradient id=\"%1\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
                              "<stop offset=\"0\" stop-color=\"%2\"/><stop offset=\"1\" stop-color=\"%3\"/>"
                              "</linearGradient></defs>\n"
                              "  <rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\" rx=\"%8\" fill=\"url(#%1)\"/>\n")
            .arg(id, Svg(s->top), Svg(s->bottom), Num(s->rect.x()), Num(s->rect.y()), Num(s->rect.width()),
                 Num(s->rect.height()), Num(s->radius));
    }
    if (const auto *s = std::get_if<Polygon>(&shape)) {
        QStringList points;
        for (const QPointF &pt : s->points)
            points << Num(pt.x()) + "," + Num(pt.y());
        return QStringLiteral("  <polygon points=\"%1\" fill=\"%2\"/>\n").arg(points.join(' '), Svg(s->fill));
    }
    if (const auto *s = std::get_if<Circle>(&shape))
        return QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n")
            .arg(Num(s->centre.x()), Num(s->centre.y()), Num(s->radius), Svg(s->fill));
    if (const auto *s = std::get_if<Arc>(&shape)) {
        QPainterPath path;
        const QRectF box(s->centre.x() - s->radius, s->centre.y() - s->radius, 2 * s->radius, 2 * s->radius);
        path.arcMoveTo(box, s->from);
        path.arcTo(box, s->from, s->span);
        return QStringLiteral("  <path d=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\" "
                              "stroke-linecap=\"round\"/>\n")
            .arg(PathData(path), Svg(s->stroke), Num(s->width));
    }
    const auto &pin = std::get<Pin>(shape);
    return QStringLiteral("  <path d=\"%1 Z\" fill=\"%2\"/>\n").arg(PathData(PinPath(pin)), Svg(pin.fill));
}

bool WriteSvg(const QString &path, const std::vector<Shape> &shapes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&file);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n";
    // Everything on the background stays inside its rounded corners.
    const auto &background = std::get<RoundRect>(shapes.front());
    out << SvgElement(background, 0)
        << QStringLiteral("  <clipPath id=\"inside\"><rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"/>"
                          "</clipPath>\n  <g clip-path=\"url(#inside)\">\n")
               .arg(Num(background.rect.x()), Num(background.rect.y()), Num(background.rect.width()),
                    Num(background.rect.height()), Num(background.radius));
    for (std::size_t i = 1; i < shapes.size(); ++i)
        out << "  " << SvgElement(shapes[i], static_cast<int>(i));
    out << "  </g>\n</svg>\n";
    return out.status() == QTextStream::Ok && file.flush();
}

bool WritePng(const QString &path, int size, const std::vector<Shape> &shapes)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / kCanvas, size / kCanvas);
        // Everything on the background stays inside its rounded corners.
        const auto &background = std::get<RoundRect>(shapes.front());
        Paint(p, background);
        QPainterPath clip;
        clip.addRoundedRect(background.rect, background.radius, background.radius);
        p.setClipPath(clip);
        for (std::size_t i = 1; i < shapes.size(); ++i)
            Paint(p, shapes[i]);
    }
    return image.save(path, "PNG");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs("usage: drovanel-draw-icon OUTPUT_FOLDER SIZE...\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const std::vector<Shape> shapes = Shapes();
    if (!QDir().mkpath(folder) || !WriteSvg(folder + "/drovanel.svg", shapes)) {
        std::fprintf(stderr, "drovanel-draw-icon: cannot write %s/drovanel.svg\n", argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        const QString sub = folder + "/" + QString::number(size);
        if (!ok || size < 1 || size > 1024 || !QDir().mkpath(sub) || !WritePng(sub + "/drovanel.png", size, shapes)) {
            std::fprintf(stderr, "drovanel-draw-icon: cannot draw size %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
