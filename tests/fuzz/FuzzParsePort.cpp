// The port after the colon of a host or proxy text: decimal digits, as many as given, whose value
// is 0 to 65535; anything else is no port. ParsePort is compared with that rule written plainly,
// and so are the client's setters that use it: the proxy's port is 0 and the host's the default
// port (21) when the text after the colon is no port.
#include "FuzzCheck.h"
#include "net/Mssocket.h"
#include "net/msFTP.h"

#include <algorithm>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    std::uint32_t value = 0;  // stops growing past the largest port
    const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [&value](char c) {
        value = std::min<std::uint32_t>(value * 10 + static_cast<std::uint32_t>(c - '0'), 65536);
        return c >= '0' && c <= '9';
    });
    const bool isPort = digits && value <= 65535;

    constexpr std::uint16_t kUntouched = 4711;
    std::uint16_t port = kUntouched;
    FUZZ_CHECK(net::ParsePort(text, port) == isPort);
    FUZZ_CHECK(isPort ? port == value : port == kUntouched);

    // The setters cut a text to 255 characters first; the port must lie within them.
    if (text.size() + 5 > 255 || text.find(':') != std::string::npos)
        return 0;
    fuzzcheck::EnsureApplication();
    net::TmsFTPClient client;
    client.SetProxy("gate:" + text);
    FUZZ_CHECK(client.Proxy() == "gate");
    FUZZ_CHECK(client.ProxyPort() == (isPort ? value : 0u));
    client.SetProxy("");
    client.SetHost("host:" + text);
    FUZZ_CHECK(client.Host() == "host");
    FUZZ_CHECK(client.Port() == (isPort ? value : 21u));
    return 0;
}
