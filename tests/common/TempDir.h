#pragma once
// Small file helpers for tests that work on real files in a temporary folder.
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

}  // namespace testutil
