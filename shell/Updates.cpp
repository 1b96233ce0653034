#include "shell/Updates.h"

#include "framework/Ansi.h"
#include "framework/Classes.h"
#include "shell/Conversion.h"
#include "shell/DeviceModel.h"

#include <algorithm>
#include <cctype>

namespace shell {

namespace {

bool isControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

}  // namespace

bool IsLocalCandidate(std::string_view name, int deviceModel)
{
    if (deviceModel < kSentryIII || deviceModel > kGrayRoverII || name.size() != kMapNameLength)
        return false;
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find(".mdb") != std::string::npos;
}

bool IsNewerName(std::string_view published, std::string_view local)
{
    return std::lexicographical_compare(
        local.begin(), local.end(), published.begin(), published.end(),
        [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); });
}

bool IsPlainFileName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.size() > kMaxFileNameBytes)
        return false;
    if (std::equal(name.begin(), name.end(), std::string_view(kDownloadFileName).begin(),
                   std::string_view(kDownloadFileName).end(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || c == ':' || isControl(static_cast<unsigned char>(c));
    });
}

bool IsPublishedMapName(std::string_view name)
{
    return IsPlainFileName(name) && name.size() == kMapNameLength && IsPointsFileName(name);
}

std::string NewestPublishedMap(const std::vector<std::string> &names)
{
    // In the order the check has always sorted the server's names (a string list's, the user's
    // collation), the last one that is a map.
    fw::TStringList sorted;
    for (const std::string &name : names)
        sorted.Add(name);
    sorted.Sort();
    const auto &items = sorted.Items();
    const auto newest =
        std::find_if(items.rbegin(), items.rend(), [](const std::string &name) { return IsPublishedMapName(name); });
    return newest == items.rend() ? std::string() : *newest;
}

std::string InvalidPublishedNameText(std::string_view name)
{
    // A cut inside a UTF-8 character would leave the whole message no UTF-8, and it would show
    // as another encoding: the cut moves back to where that character starts.
    std::size_t cut = std::min(name.size(), kMaxFileNameBytes);
    for (int back = 0; back < 3 && cut < name.size() && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80; ++back)
        --cut;
    std::string shown(name.substr(0, cut));
    if (name.size() > kMaxFileNameBytes)
        shown += "...";
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return isControl(static_cast<unsigned char>(c)); }, '?');
    return fw::AnsiText("El mapa publicado tiene un nombre de fichero no válido: \"") + shown + "\"";
}

std::string FileNamePart(std::string_view name)
{
    const auto cut = name.find_last_of("\\:");
    return std::string(cut == std::string_view::npos ? name : name.substr(cut + 1));
}

std::string IncompleteDownloadText(std::int64_t received, std::int64_t announced)
{
    return fw::AnsiText("La descarga del mapa está incompleta: se recibieron ") + std::to_string(received) + " de " +
           std::to_string(announced) + " bytes";
}

std::string OversizedNewsText(std::int64_t limit)
{
    return fw::AnsiText("Las noticias del servidor superan el tamaño máximo de ") + std::to_string(limit) + " bytes";
}

std::string OversizedMapText(std::int64_t limit)
{
    return fw::AnsiText("El mapa del servidor supera el tamaño máximo de ") + std::to_string(limit) + " bytes";
}

std::string OverlongDownloadText(std::int64_t announced)
{
    return fw::AnsiText("La descarga del mapa no es válida: el servidor envió más de los ") +
           std::to_string(announced) + " bytes anunciados";
}

int RecheckMinutes(int stored)
{
    return stored >= 0 && stored <= kMaxRecheckMinutes ? stored : kDefaultRecheckMinutes;
}

std::string NewMapText(std::string_view name)
{
    return "Existe nuevo mapa: " + std::string(name);
}

std::string NewMapHint(std::string_view name)
{
    return std::string(kTrayTitle) + " - " + NewMapText(name);
}

}  // namespace shell
