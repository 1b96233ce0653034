#include "shell/Conversion.h"

#include "ui/Ansi.h"
#include "ui/Exceptions.h"
#include "ui/TextFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace shell {
namespace {

constexpr std::string_view kFormatMark = "574C";
constexpr size_t kTypeAt = 15;  // position 16, counted from 0
constexpr size_t kAlertAt = 14;  // position 15
constexpr size_t kDataLength = 14;

// What a record of one type code becomes.
enum class Action : unsigned char { Drop, Unchanged, SoundOnly, NoSpeedCheck };

Action ActionFor(int deviceModel, int level)
{
    switch (deviceModel) {
    case kWatcher:
        switch (level) {
        case 1:
            return Action::SoundOnly;
        case 2:
            return Action::NoSpeedCheck;
        case 3:
            return Action::Unchanged;
        default:
            return Action::Drop;
        }
    case kSentryIII:
        switch (level) {
        case 1:
            return Action::NoSpeedCheck;
        case 2:
            return Action::Unchanged;
        default:
            return Action::Drop;
        }
    default:
        return Action::Drop;
    }
}

// Header checked, then one table look-up a record: the loop runs over every line of maps that run
// to many megabytes, so it reads lines in place and builds rewritten records on the stack.
bool ConvertLines(ui::TextFileReader &in, ui::TextFileWriter &out, int deviceModel, const AlertLevels &levels)
{
    const std::string_view header = in.ReadLineView();
    if (!HasPointsFileMark(header))
        return false;
    out.WriteLine(header);

    std::array<Action, 256> actions{};  // every byte that is not a type code: Drop
    for (int type = 0; type < kPointTypes; ++type)
        actions[static_cast<unsigned char>('1' + type)] = ActionFor(deviceModel, levels[type]);

    char rewritten[kTypeAt + 3];  // positions 1 to 16 and CR LF
    rewritten[kTypeAt + 1] = '\r';
    rewritten[kTypeAt + 2] = '\n';
    while (!in.Eof()) {
        const std::string_view line = in.ReadLineView();
        if (line.size() <= kTypeAt)
            continue;
        const Action action = actions[static_cast<unsigned char>(line[kTypeAt])];
        if (action == Action::Drop)
            continue;
        if (action == Action::Unchanged) {
            out.WriteLine(line);
            continue;
        }
        std::memcpy(rewritten, line.data(), kDataLength);
        rewritten[kAlertAt] = action == Action::SoundOnly ? 'F' : '0';
        rewritten[kTypeAt] = line[kTypeAt];
        out.Write(std::string_view(rewritten, sizeof rewritten));
    }
    return true;
}

std::string FolderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A new file in the destination's folder for the converted map. Its name never contains ".mdb",
// so a file left behind by a crash is not taken for a points map by the update check.
std::string CreateBeside(ui::TextFileWriter &out, const std::string &destination)
{
    static std::atomic<unsigned> counter{0};
    const std::string folder = FolderOf(destination);
    for (int attempt = 0;; ++attempt) {
        const std::string name = folder + "/.drovanel-" + std::to_string(::getpid()) + "-" +
                                 std::to_string(counter.fetch_add(1)) + ".part";
        try {
            out.CreateNew(name, 0666);
            return name;
        } catch (const ui::EInOutError &e) {
            // Only a name taken by a leftover of an earlier process is worth another try.
            if (e.ErrorCode() != EEXIST || attempt >= 100)
                throw;
        }
    }
}

// The rename is durable only once the folder's entry is; some file systems cannot sync a folder,
// and by then the map is in place, so that failure is not reported.
void SyncFolder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Closes both files on every way out of a conversion (the source first) and removes the
// unfinished output unless it was put in place.
class ConversionFiles {
public:
    ConversionFiles(ui::TextFileReader &in, ui::TextFileWriter &out) : m_in(in), m_out(out) {}
    ~ConversionFiles()
    {
        m_in.Close();
        m_out.Discard();
        if (!m_temp.empty())
            ::unlink(m_temp.c_str());
    }
    ConversionFiles(const ConversionFiles &) = delete;
    ConversionFiles &operator=(const ConversionFiles &) = delete;

    void SetTemporary(const std::string &name) { m_temp = name; }
    void Placed() { m_temp.clear(); }

private:
    ui::TextFileReader &m_in;
    ui::TextFileWriter &m_out;
    std::string m_temp;
};

}  // namespace

ConversionResult ConvertPointsFile(const std::string &source, const std::string &destination, int deviceModel,
                                   const AlertLevels &levels)
{
    ui::TextFileReader origen;
    ui::TextFileWriter destino;
    return ConvertPointsFile(origen, destino, source, destination, deviceModel, levels);
}

ConversionResult ConvertPointsFile(ui::TextFileReader &origen, ui::TextFileWriter &destino, const std::string &source,
                                   const std::string &destination, int deviceModel, const AlertLevels &levels)
{
    ConversionFiles files(origen, destino);
    origen.Open(source);
    // The rename below would replace a file that the user has made read-only; such a file could
    // not be emptied either, so it stays and the user hears why. The check is made as the
    // identity that writes (the effective one).
    if (::faccessat(AT_FDCWD, destination.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
        throw ui::EInOutError::FromErrno(errno);
    const std::string temp = CreateBeside(destino, destination);
    files.SetTemporary(temp);

    if (!ConvertLines(origen, destino, deviceModel, levels))
        return ConversionResult::InvalidHeader;

    origen.Close();
    destino.Sync();
    destino.Close();
    if (std::rename(temp.c_str(), destination.c_str()) != 0)
        throw ui::EInOutError::FromErrno(errno);
    files.Placed();
    SyncFolder(FolderOf(destination));
    return ConversionResult::Converted;
}

AlertLevels ReadAlertLevels(int deviceModel, const std::function<int(const char *barName)> &position)
{
    AlertLevels levels{};
    if (deviceModel != kWatcher && deviceModel != kSentryIII)
        return levels;
    const auto &bars = deviceModel == kWatcher ? kWatcherLevelBars : kSentryLevelBars;
    for (int type = 0; type < kPointTypes; ++type)
        levels[type] = position(bars[type]);
    return levels;
}

bool HasPointsFileMark(std::string_view headerLine)
{
    return headerLine.starts_with(kFormatMark);
}

bool IsPointsFileName(std::string_view fileName)
{
    std::string lower(fileName);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lower.find(".mdb") != std::string::npos;
}

std::string AlertVariant(std::string_view record, char alert)
{
    std::string variant(record.substr(0, kDataLength));
    variant += alert;
    if (record.size() > kTypeAt)
        variant += record[kTypeAt];
    return variant;
}

void DeleteDownload(const std::string &folder)
{
    ::unlink((folder + "/" + kDownloadFileName).c_str());
}

const std::string &InvalidDestinationNameText()
{
    static const std::string text = ui::AnsiText("No ha seleccionado un fichero final de datos válido!");
    return text;
}

const std::string &InvalidPointsFileText()
{
    static const std::string text = ui::AnsiText("¡Fichero de Watcher no válido!");
    return text;
}

const std::string &MapReceivedText()
{
    static const std::string text =
        ui::AnsiText("¡¡Fichero recibido!!\r\rEste nuevo fichero de datos le servirá\rpara cargar su Sentry III o Watcher");
    return text;
}

}  // namespace shell
