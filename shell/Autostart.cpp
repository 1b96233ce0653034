#include "shell/Autostart.h"

#include "framework/Exceptions.h"
#include "framework/PartFile.h"
#include "shell/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace shell {

namespace {

// The characters that make a desktop entry's argument need quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

// The value of `key` in the [Desktop Entry] group of `text`; empty when absent.
QByteArray EntryValue(const QByteArray &text, const QByteArray &key)
{
    bool inEntry = false;
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        const auto equals = line.indexOf('=');
        if (inEntry && equals > 0 && line.left(equals).trimmed() == key)
            return line.mid(equals + 1).trimmed();
    }
    return {};
}

}  // namespace

QString AutostartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/autostart/" +
           QString::fromLatin1(kDesktopEntryId) + ".desktop";
}

bool AutostartEnabled()
{
    QFile entry(AutostartEntryPath());
    if (!entry.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = entry.readAll();
    return EntryValue(text, "Hidden") != "true" && EntryValue(text, "X-GNOME-Autostart-enabled") != "false";
}

std::string DesktopExecValue(const QString &program)
{
    const std::string path = program.toStdString();
    const bool quoted = path.find_first_of(kReserved) != std::string::npos;
    std::string argument;
    for (const char c : path) {
        if (c == '%')
            argument += "%%";
        else if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\'))
            argument += {'\\', c};
        else
            argument += c;
    }
    if (quoted)
        argument = '"' + argument + '"';
    // The value is a string of the format too, with escapes of its own, read before the quotes.
    std::string value;
    for (const char c : argument) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '\n')
            value += "\\n";
        else if (c == '\t')
            value += "\\t";
        else if (c == '\r')
            value += "\\r";
        else
            value += c;
    }
    return value;
}

void SetAutostart(bool enabled, const QString &program)
{
    const QString path = AutostartEntryPath();
    const std::string target = QFile::encodeName(path).toStdString();
    if (!enabled) {
        if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
            const int error = errno;
            throw fw::EInOutError(error, "Cannot delete file \"" + target + "\". " + std::strerror(error));
        }
        return;
    }
    // A missing folder is made; one that cannot be is reported by the file that cannot be made.
    QDir().mkpath(QFileInfo(path).absolutePath());
    const std::string text = std::string("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Drovanel\n"
                                         "Exec=") +
                             DesktopExecValue(program) +
                             "\n"
                             "Icon=" +
                             kIconName +
                             "\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n";
    fw::PartFileStream file(target);
    file.Stream().WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
    file.Place();
}

}  // namespace shell
