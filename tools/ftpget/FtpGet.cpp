// drovanel-ftpget [--passive] [--proxy HOST:PORT --proxy-type user|open] [--timeout SECONDS]
//                 HOST PORT USER PASSWORD DIR [REMOTE LOCAL]
// HOST is a name, an IPv4 address or an IPv6 address ("::1", or "[::1]"); a name's addresses are
// tried in the resolver's order.
// Logs in (directly or through the proxy), changes to DIR, and either retrieves REMOTE into LOCAL
// (printing the bytes received, the seconds and the address family used, "over IPv6") or, without REMOTE, writes the
// name list to standard output, one name a line. Logs out and exits 0; on failure exits 1 with the message on standard
// error. Names and messages come from the server: control characters and bytes that are not UTF-8 text are shown
// escaped (\x1b), so a server cannot drive the terminal; a backslash is shown doubled.
#include "Escape.h"
#include "net/msFTP.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: drovanel-ftpget [--passive] [--proxy HOST:PORT --proxy-type user|open] "
                         "[--timeout SECONDS] HOST PORT USER PASSWORD DIR [REMOTE LOCAL]\n");
    return 2;
}

bool ParseNumber(const std::string &text, long low, long high, long &value)
{
    try {
        size_t used = 0;
        value = std::stol(text, &used);
        return used == text.size() && value >= low && value <= high;
    } catch (const std::exception &) {
        return false;
    }
}

}  // namespace

int main(int argc, char **argv)
{
    // Past a file size limit a write must fail with its error, not end the process unreported.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    bool passive = false;
    std::string proxy;
    std::string proxyType = "user";
    long timeout = 60;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--passive")
            passive = true;
        else if (a == "--proxy" && hasValue)
            proxy = args[++i];
        else if (a == "--proxy-type" && hasValue)
            proxyType = args[++i];
        else if (a == "--timeout" && hasValue) {
            if (!ParseNumber(args[++i], 1, 86400, timeout))
                return Usage();
        } else if (a.rfind("--", 0) == 0)
            return Usage();
        else
            positional.push_back(a);
    }
    long port = 0;
    if ((positional.size() != 5 && positional.size() != 7) || !ParseNumber(positional[1], 1, 65535, port) ||
        (proxyType != "user" && proxyType != "open"))
        return Usage();

    net::TmsFTPClient client;
    try {
        client.SetPassiveMode(passive);
        client.SetTimeOut(static_cast<std::int32_t>(timeout));
        client.SetProxy(proxy);
        client.SetProxyType(proxyType == "open" ? net::fpProxyOpen : net::fpUserNoLogon);
        client.SetHost(positional[0]);
        client.SetPort(static_cast<std::uint16_t>(port));
        client.SetUserName(positional[2]);
        client.SetPassword(positional[3]);
        client.Login();
        client.ChangeDir(positional[4]);
        if (positional.size() == 7) {
            // The bytes received, as the transfer counts them: LOCAL may be a device (/dev/null)
            // whose size says nothing.
            long long bytes = 0;
            client.OnDataTransferProgress = [&bytes](fw::TObject *, std::int32_t byteCount) { bytes = byteCount; };
            QElapsedTimer clock;
            clock.start();
            client.RetrieveFile(positional[5], positional[6]);
            const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
            std::printf("%lld bytes in %.3f seconds over %s\n", bytes, seconds, client.Peer().FamilyName().c_str());
        } else {
            fw::TStringList names;
            client.NameList(names);
            for (const auto &name : names)
                std::printf("%s\n", ftpget::Escaped(name).c_str());
        }
        client.Logout();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", ftpget::Escaped(e.what()).c_str());
        client.Disconnect();
        return 1;
    }
    return 0;
}
