#pragma once
// The build-time helpers' writer of ready pixels: images as C++ arrays of premultiplied ARGB32
// rows, with a table of shell::EmbeddedPicture entries (shell/Pictures.h) that names them.
#include <QImage>
#include <cstdio>
#include <string>

namespace pictures {

class PictureSource {
public:
    // Adds `image` under `name` to the table.
    void Add(const std::string &name, QImage image)
    {
        // The format a pixmap keeps a picture with transparency in.
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const std::string array = "kPixels" + std::to_string(m_count++);
        m_arrays += "alignas(4) const unsigned char " + array + "[] = {";
        const qsizetype rowBytes = static_cast<qsizetype>(image.width()) * 4;
        qsizetype written = 0;
        for (int y = 0; y < image.height(); ++y) {
            const uchar *row = image.constScanLine(y);
            for (qsizetype x = 0; x < rowBytes; ++x) {
                if (written++ % 24 == 0)
                    m_arrays += "\n    ";
                m_arrays += std::to_string(row[x]) + ",";
            }
        }
        m_arrays += "\n};\n\n";
        m_table += "    {\"" + name + "\", " + std::to_string(image.width()) + ", " + std::to_string(image.height()) +
                   ", " + std::to_string(image.dotsPerMeterX()) + ", " + std::to_string(image.dotsPerMeterY()) + ", " +
                   array + "},\n";
    }

    // Writes the source: the table as `tableName`, its length as `countName`, both in namespace
    // shell. False, with a line on stderr, when the file cannot be written.
    bool Write(const char *path, const std::string &generator, const std::string &tableName,
               const std::string &countName) const
    {
        const std::string out = "// Generated at build time by " + generator + ": do not edit.\n" +
                                "#include \"shell/Pictures.h\"\n\nnamespace shell {\nnamespace {\n\n" + m_arrays +
                                "}  // namespace\n\nconst EmbeddedPicture " + tableName + "[] = {\n" + m_table +
                                "};\nconst int " + countName + " = " + std::to_string(m_count) +
                                ";\n\n}  // namespace shell\n";
        std::FILE *file = std::fopen(path, "wb");
        bool written = file && std::fwrite(out.data(), 1, out.size(), file) == out.size();
        if (file && std::fclose(file) != 0)
            written = false;
        if (!written)
            std::fprintf(stderr, "cannot write %s\n", path);
        return written;
    }

private:
    std::string m_arrays;
    std::string m_table;
    int m_count = 0;
};

}  // namespace pictures
