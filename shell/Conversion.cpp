#include "shell/Conversion.h"

#include "framework/Ansi.h"
#include "framework/Exceptions.h"
#include "framework/FileSystem.h"
#include "framework/PartFile.h"
#include "framework/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace shell {
namespace {

constexpr std::string_view kFormatMark = "574C";
constexpr size_t kTypeAt = 15;   // position 16, counted from 0
constexpr size_t kAlertAt = 14;  // position 15
constexpr size_t kDataLength = 14;

// What a record of one type code becomes, as masks so that the loop below computes each record's
// output without branching on its type (the types of neighbouring records are as good as random,
// and a mispredicted branch a record costs more than the rest of the work):
//   alert character = (its own & keepAlert) | alert
//   length          = 16 + (tail length & tail)
//   bytes kept      = (length + 2) & written
struct Rule {
    unsigned char keepAlert = 0;
    unsigned char alert = 0;
    size_t tail = 0;
    size_t written = 0;
};

constexpr size_t kAll = ~size_t{0};
constexpr Rule kDrop{};
constexpr Rule kUnchanged{0xFF, 0, kAll, kAll};
constexpr Rule kSoundOnly{0, 'F', 0, kAll};
constexpr Rule kNoSpeedCheck{0, '0', 0, kAll};

Rule RuleFor(int deviceModel, int level)
{
    switch (deviceModel) {
    case kWatcher:
        switch (level) {
        case 1: return kSoundOnly;
        case 2: return kNoSpeedCheck;
        case 3: return kUnchanged;
        default: return kDrop;
        }
    case kSentryIII:
        switch (level) {
        case 1: return kNoSpeedCheck;
        case 2: return kUnchanged;
        default: return kDrop;
        }
    default: return kDrop;
    }
}

// Each record is copied whole into the output block, then patched and counted or not.
bool ConvertLines(fw::TextFileReader &in, fw::TextFileWriter &out, int deviceModel, const AlertLevels &levels)
{
    const std::string_view header = in.ReadLineView();
    if (!HasPointsFileMark(header))
        return false;
    out.WriteLine(header);

    std::array<Rule, 256> rules{};  // every byte that is not a type code: left out
    for (int type = 0; type < kPointTypes; ++type)
        rules[static_cast<unsigned char>('1' + type)] = RuleFor(deviceModel, levels[type]);

    while (!in.Eof()) {
        const std::string_view line = in.ReadLineView();
        if (line.size() <= kTypeAt)
            continue;
        const Rule rule = rules[static_cast<unsigned char>(line[kTypeAt])];
        if (line.size() + 2 > fw::TextFileWriter::kMaxReserve) {
            if (rule.tail != 0)
                out.WriteLine(line);
            else if (rule.written != 0)
                out.WriteLine(AlertVariant(line, static_cast<char>(rule.alert)));
            continue;
        }
        char *to = out.Reserve(line.size() + 2);
        std::memcpy(to, line.data(), line.size());
        to[kAlertAt] = static_cast<char>((static_cast<unsigned char>(line[kAlertAt]) & rule.keepAlert) | rule.alert);
        const size_t length = kTypeAt + 1 + ((line.size() - kTypeAt - 1) & rule.tail);
        to[length] = '\r';
        to[length + 1] = '\n';
        out.Commit((length + 2) & rule.written);
    }
    return true;
}

// Closes both files on every way out of a conversion, the source first.
class ConversionFiles {
public:
    ConversionFiles(fw::TextFileReader &in, fw::TextFileWriter &out) : m_in(in), m_out(out) {}
    ~ConversionFiles()
    {
        m_in.Close();
        m_out.Discard();
    }
    ConversionFiles(const ConversionFiles &) = delete;
    ConversionFiles &operator=(const ConversionFiles &) = delete;

private:
    fw::TextFileReader &m_in;
    fw::TextFileWriter &m_out;
};

}  // namespace

ConversionResult ConvertPointsFile(const std::string &source, const std::string &destination, int deviceModel,
                                   const AlertLevels &levels)
{
    fw::TextFileReader origen;
    fw::TextFileWriter destino;
    return ConvertPointsFile(origen, destino, source, destination, deviceModel, levels);
}

ConversionResult ConvertPointsFile(fw::TextFileReader &origen, fw::TextFileWriter &destino, const std::string &source,
                                   const std::string &destination, int deviceModel, const AlertLevels &levels)
{
    const ConversionFiles files(origen, destino);
    // A download this process put in place is converted only while it is the file under that name:
    // the folder may be shared, and handlers (a melody's) run between the placing and this.
    if (const auto placed = fw::PlacedFile(source)) {
        try {
            origen.OpenExpected(source, *placed);
        } catch (const fw::EInOutError &e) {
            if (e.ErrorCode() == ELOOP || e.ErrorCode() == ESTALE)
                throw fw::Exception(DownloadReplacedText());
            throw;
        }
    } else {
        origen.Open(source);
    }
    fw::PartFile part(destination, [&destino](const std::string &name) { destino.CreateNew(name, 0666); });
    destino.SetWriteBehind(true);

    try {
        if (!ConvertLines(origen, destino, deviceModel, levels))
            return ConversionResult::InvalidHeader;
    } catch (const fw::ELineTooLongError &e) {
        throw fw::Exception(OverlongLineText(e.Limit()));
    }

    origen.Close();
    destino.Sync();
    destino.Close();
    part.Place();
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

std::string DownloadReplacedText()
{
    return fw::AnsiText("El mapa descargado ha sido sustituido por otro fichero antes de convertirlo; no se ha "
                        "convertido");
}

const std::string &InvalidDestinationNameText()
{
    static const std::string text = fw::AnsiText("No ha seleccionado un fichero final de datos válido!");
    return text;
}

const std::string &InvalidPointsFileText()
{
    static const std::string text = fw::AnsiText("¡Fichero de Watcher no válido!");
    return text;
}

std::string OverlongLineText(size_t limit)
{
    return InvalidPointsFileText() + fw::AnsiText("\r\rTiene una línea de más de ") + std::to_string(limit) + " bytes";
}

bool HasConversion(int deviceModel)
{
    return deviceModel == kSentryIII || deviceModel == kWatcher;
}

std::string NoConversionText(int deviceModel)
{
    const std::string kept =
        fw::AnsiText("\r\rEl mapa descargado se ha guardado sin convertir como ") + kDownloadFileName;
    if (deviceModel == kGrayRoverII)
        return fw::AnsiText("¡No hay conversión de mapas para el Gray Rover II!") + kept;
    return fw::AnsiText("¡No ha seleccionado un modelo de avisador!") + kept;
}

const std::string &MapReceivedText()
{
    static const std::string text = fw::AnsiText("¡¡Fichero recibido!!\r\rEste nuevo fichero de datos le servirá"
                                                 "\rpara cargar su Sentry III o Watcher");
    return text;
}

}  // namespace shell
