// Build-time helper: decodes the main window's PNG pictures and writes them as a C++ source of
// ready pixels (premultiplied ARGB32, as a pixmap holds them), so that the program decodes no image
// when it builds its window. The table's type is shell::EmbeddedPicture (shell/Pictures.h).
//   drovanel-embed-pictures OUTPUT.cpp PICTURE.png...
#include <QCoreApplication>
#include <QFileInfo>
#include <QImage>
#include <cstdio>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: drovanel-embed-pictures OUTPUT.cpp PICTURE.png...\n");
        return 1;
    }
    std::string out = "// Generated at build time by drovanel-embed-pictures from shell/pictures/: do not edit.\n"
                      "#include \"shell/Pictures.h\"\n\nnamespace shell {\nnamespace {\n\n";
    std::string table;
    for (int i = 2; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        QImage image(path);
        if (image.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        // The format a pixmap keeps a picture with transparency in.
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const std::string array = "kPixels" + std::to_string(i - 2);
        out += "alignas(4) const unsigned char " + array + "[] = {";
        const auto *bits = image.constBits();
        const qsizetype rowBytes = static_cast<qsizetype>(image.width()) * 4;
        qsizetype written = 0;
        for (int y = 0; y < image.height(); ++y) {
            const uchar *row = bits + y * image.bytesPerLine();
            for (qsizetype x = 0; x < rowBytes; ++x) {
                if (written++ % 24 == 0)
                    out += "\n    ";
                out += std::to_string(row[x]) + ",";
            }
        }
        out += "\n};\n\n";
        table += "    {\"" + QFileInfo(path).fileName().toStdString() + "\", " + std::to_string(image.width()) + ", " +
                 std::to_string(image.height()) + ", " + std::to_string(image.dotsPerMeterX()) + ", " +
                 std::to_string(image.dotsPerMeterY()) + ", " + array + "},\n";
    }
    out += "}  // namespace\n\nconst EmbeddedPicture kEmbeddedPictures[] = {\n" + table +
           "};\nconst int kEmbeddedPictureCount = " + std::to_string(argc - 2) + ";\n\n}  // namespace shell\n";
    std::FILE *file = std::fopen(argv[1], "wb");
    if (!file || std::fwrite(out.data(), 1, out.size(), file) != out.size() || std::fclose(file) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
