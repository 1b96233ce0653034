// The passive-mode reply: whatever the server writes, the parse either fails or gives an address
// of four bytes and a port, and an address it gives reads back the same.
#include "FuzzCheck.h"
#include "net/msFTP.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string reply(reinterpret_cast<const char *>(data), size);
    std::string host;
    std::uint16_t port = 0;
    if (!net::TmsFTPClient::ParsePasvReply(reply, host, port))
        return 0;
    int a[4] = {};
    char tail = 0;
    FUZZ_CHECK(std::sscanf(host.c_str(), "%d.%d.%d.%d%c", &a[0], &a[1], &a[2], &a[3], &tail) == 4);
    std::string again = "227 Entering Passive Mode (";
    for (const int byte : a) {
        FUZZ_CHECK(byte >= 0 && byte <= 255);
        again += std::to_string(byte) + ",";
    }
    again += std::to_string(port >> 8) + "," + std::to_string(port & 0xFF) + ").";
    std::string host2;
    std::uint16_t port2 = 0;
    FUZZ_CHECK(net::TmsFTPClient::ParsePasvReply(again, host2, port2));
    FUZZ_CHECK(host2 == host && port2 == port);
    return 0;
}
