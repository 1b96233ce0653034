#pragma once
// Small file helpers for tests that work on real files in a temporary folder.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace testutil {

class TempDir {
public:
    std::string path() const { return m_dir.path().toStdString(); }
    std::string file(const std::string &name) const { return path() + "/" + name; }

private:
    QTemporaryDir m_dir;
};

inline void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The same for the tests that name their files with Qt: a file that cannot be read reads empty.
inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

}  // namespace testutil
