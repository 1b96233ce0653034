// drovanel-make-map SIZE OUT [SEED]
// Writes a points map of about SIZE bytes (a number, or with a K or M suffix for KiB and MiB) as
// the update server publishes them: the header line, then one point a line with CR LF ends. The
// points have all seven types in shares like a real map's, varied alert characters and tails;
// about one in twenty has no type (a zero, an eight, a letter at position 16) and about one in
// sixty is a short line. The same SEED gives the same map.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>

namespace {

bool ParseSize(std::string_view text, unsigned long long &bytes)
{
    char *end = nullptr;
    const std::string owned(text);
    bytes = std::strtoull(owned.c_str(), &end, 10);
    if (end == owned.c_str())
        return false;
    const std::string_view suffix(end);
    if (suffix == "K")
        bytes *= 1024;
    else if (suffix == "M")
        bytes *= 1024 * 1024;
    else if (!suffix.empty())
        return false;
    return bytes > 0;
}

class MapMaker {
public:
    explicit MapMaker(unsigned long long seed) : m_random(seed) {}

    // One record line without its end.
    void Point(std::string &line)
    {
        line.clear();
        const unsigned kind = Below(1000);
        Data(line);
        line += kAlerts[Below(sizeof kAlerts - 1)];
        if (kind < 16) {  // a short line: a cut-off record, sometimes an empty one
            line.resize(Below(16));
            return;
        }
        line += kind < 66 ? kUntypedCodes[Below(sizeof kUntypedCodes - 1)] : TypeCode();
        Tail(line);
    }

private:
    static constexpr char kAlerts[] = "11111222333456789ABCDEFHJKLMNPRSTUVXYZ";
    static constexpr char kUntypedCodes[] = "00000888889ABCX ";
    static constexpr const char *kRoads[] = {"A-6",
                                             "A-1",
                                             "AP-7",
                                             "N-340",
                                             "M-30",
                                             "C-31",
                                             "A-66",
                                             "N-VI",
                                             "CL-601",
                                             "Calle Mayor",
                                             "Avda. de Andaluc\355a",
                                             "Ronda Sur"};
    static constexpr int kSpeeds[] = {30, 40, 50, 60, 70, 80, 90, 100, 110, 120};

    unsigned Below(unsigned n) { return static_cast<unsigned>(m_random() % n); }

    void Digits(std::string &line, int count)
    {
        for (int i = 0; i < count; ++i)
            line += static_cast<char>('0' + Below(10));
    }

    // Positions 1 to 14: longitude and latitude in hundred-thousandths of a degree, over Spain.
    void Data(std::string &line)
    {
        const int lon = static_cast<int>(Below(1360000)) - 930000;
        const int lat = 3600000 + static_cast<int>(Below(780000));
        char text[32];
        std::snprintf(text, sizeof text, "%+07d%07d", lon / 10, lat);
        line.append(text, 14);
    }

    // Shares of a real map: fixed cameras lead, school zones are few.
    char TypeCode()
    {
        const unsigned p = Below(100);
        if (p < 34)
            return '1';
        if (p < 50)
            return '2';
        if (p < 58)
            return '3';
        if (p < 66)
            return '4';
        if (p < 81)
            return '5';
        if (p < 93)
            return '6';
        return '7';
    }

    void Tail(std::string &line)
    {
        switch (Below(5)) {
        case 0: return;  // a record of exactly 16 characters
        case 1:
            line += ',';
            line += std::to_string(kSpeeds[Below(std::size(kSpeeds))]);
            return;
        case 2:
            line += ',';
            line += std::to_string(kSpeeds[Below(std::size(kSpeeds))]);
            line += ',';
            line += kRoads[Below(std::size(kRoads))];
            line += " PK ";
            Digits(line, 1 + static_cast<int>(Below(3)));
            line += '.';
            Digits(line, 1);
            return;
        case 3:
            line += "  ";
            line += kRoads[Below(std::size(kRoads))];
            return;
        default:
            line += ',';
            Digits(line, 3);
            line += ",0";
            return;
        }
    }

    std::mt19937_64 m_random;
};

}  // namespace

int main(int argc, char **argv)
{
    unsigned long long size = 0;
    if (argc < 3 || argc > 4 || !ParseSize(argv[1], size)) {
        std::fputs("usage: drovanel-make-map SIZE OUT [SEED]   (SIZE in bytes, or with K or M)\n", stderr);
        return 1;
    }
    const unsigned long long seed = argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 2001;
    std::FILE *out = std::fopen(argv[2], "wb");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);

    std::string line = "574C,Mapa de puntos Drovanel,seed " + std::to_string(seed);
    unsigned long long written = 0;
    MapMaker maker(seed);
    for (;;) {
        line += "\r\n";
        std::fwrite(line.data(), 1, line.size(), out);
        written += line.size();
        if (written >= size)
            break;
        maker.Point(line);
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
