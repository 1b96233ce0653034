// The guard on a published map name, which becomes a file of the download folder: compared with a
// plain reading of its rules (not empty, not "." or "..", at most kMaxFileNameBytes bytes, no "/",
// "\" or ":", no control character, not the download's own "temp.mdb" in any letter case). The
// error text for a refused name shows at most kMaxFileNameBytes bytes of it, holds no control
// character, and stays UTF-8 when the name is.
#include "FuzzCheck.h"
#include "platform/Text.h"
#include "shell/Updates.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool Control(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool Plain(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.size() > shell::kMaxFileNameBytes)
        return false;
    constexpr std::string_view download = "temp.mdb";
    bool isDownload = name.size() == download.size();
    for (std::size_t i = 0; isDownload && i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        isDownload = c == download[i];
    }
    if (isDownload)
        return false;
    for (const char c : name) {
        if (c == '/' || c == '\\' || c == ':' || Control(c))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char *>(data), size);
    FUZZ_CHECK(shell::IsPlainFileName(name) == Plain(name));

    // The text is the message's opening, the name as shown, and a closing quote.
    static const std::string empty = shell::InvalidPublishedNameText("");
    const std::string_view opening = std::string_view(empty).substr(0, empty.size() - 1);
    const std::string text = shell::InvalidPublishedNameText(name);
    FUZZ_CHECK(text.size() > opening.size() && text.substr(0, opening.size()) == opening && text.back() == '"');
    const std::string_view shown = std::string_view(text).substr(opening.size(), text.size() - opening.size() - 1);
    FUZZ_CHECK(std::none_of(text.begin(), text.end(), Control));
    if (name.size() <= shell::kMaxFileNameBytes) {
        FUZZ_CHECK(shown.size() == name.size());
        for (std::size_t i = 0; i < name.size(); ++i)
            FUZZ_CHECK(shown[i] == (Control(name[i]) ? '?' : name[i]));
    } else {
        // Cut at kMaxFileNameBytes, or up to three bytes before it so as not to split a character;
        // the cut is marked.
        FUZZ_CHECK(shown.size() >= 3 && shown.substr(shown.size() - 3) == "...");
        const std::size_t kept = shown.size() - 3;
        FUZZ_CHECK(kept <= shell::kMaxFileNameBytes && kept + 3 >= shell::kMaxFileNameBytes);
        for (std::size_t i = 0; i < kept; ++i)
            FUZZ_CHECK(shown[i] == (Control(name[i]) ? '?' : name[i]));
    }
    FUZZ_CHECK(!platform::IsValidUtf8(name) || platform::IsValidUtf8(text));
    return 0;
}
