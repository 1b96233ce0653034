// The points-map conversion on any downloaded file, against a plain model of its rules: the
// first byte picks the device model (low 2 bits) and the next seven the levels of the seven point
// types (each byte's low 3 bits less 1, so -1 to 6, out-of-range levels included); the rest is
// the file. The model: line 1 must begin with "574C" and is written as it is; each further line
// with a type code "1" to "7" at position 16 is kept, written with its alert character replaced
// and cut after position 16, or left out, by its type's level; every other line is left out.
#include "FuzzCheck.h"
#include "framework/Exceptions.h"
#include "shell/Conversion.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// What a record becomes: 'k' kept whole, 'd' left out, or the alert character it is written with.
char Rule(int model, int level)
{
    if (model == shell::kWatcher)
        return level == 1 ? 'F' : level == 2 ? '0' : level == 3 ? 'k' : 'd';
    if (model == shell::kSentryIII)
        return level == 1 ? '0' : level == 2 ? 'k' : 'd';
    return 'd';
}

std::string Expected(const std::string &file, int model, const shell::AlertLevels &levels, bool &valid)
{
    const auto lines = fuzzcheck::ReferenceLines(file);
    const std::string header = lines.empty() ? std::string() : lines[0];
    valid = header.compare(0, 4, "574C") == 0;
    std::string out = header + "\r\n";
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string &record = lines[i];
        if (record.size() < 16 || record[15] < '1' || record[15] > '7')
            continue;
        const char rule = Rule(model, levels[static_cast<std::size_t>(record[15] - '1')]);
        if (rule == 'd')
            continue;
        if (rule == 'k')
            out += record + "\r\n";
        else
            out += record.substr(0, 14) + rule + record[15] + "\r\n";
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 8)
        return 0;
    const int model = data[0] & 3;
    shell::AlertLevels levels{};
    for (std::size_t i = 0; i < levels.size(); ++i)
        levels[i] = (data[1 + i] & 7) - 1;
    const std::string file(reinterpret_cast<const char *>(data) + 8, size - 8);
    const std::string folder = fuzzcheck::ScratchFolder();
    const std::string source = folder + "/temp.mdb";
    const std::string destination = folder + "/Watcher-010101.mdb";
    {
        std::ofstream out(source, std::ios::binary | std::ios::trunc);
        out.write(file.data(), static_cast<std::streamsize>(file.size()));
    }
    std::remove(destination.c_str());
    bool valid = false;
    const std::string expected = Expected(file, model, levels, valid);
    const auto result = shell::ConvertPointsFile(source, destination, model, levels);
    FUZZ_CHECK((result == shell::ConversionResult::Converted) == valid);
    std::ifstream in(destination, std::ios::binary);
    if (!valid) {
        FUZZ_CHECK(!in.is_open());
        return 0;
    }
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(written == expected);
    return 0;
}
