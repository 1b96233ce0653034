// The activation socket's line rule (platform::ReadKnock): what a caller sent is a knock exactly
// when its first line is "activate"; it can still become one only while it is a shorter piece of
// "activate\n" without a line end; anything else is no knock. Reading more bytes never changes
// a decision once made.
#include "FuzzCheck.h"
#include "platform/SingleInstance.h"

#include <QByteArray>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using platform::KnockState;
    constexpr std::string_view knock = "activate\n";
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const QByteArray received(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const KnockState state = platform::ReadKnock(received);
    KnockState expected = KnockState::Other;
    if (bytes.starts_with(knock))
        expected = KnockState::Knock;
    else if (bytes.size() < knock.size() && knock.starts_with(bytes))
        expected = KnockState::Incomplete;
    FUZZ_CHECK(state == expected);
    // Read in two pieces, as bytes come: the first piece's decision stands when it made one.
    const std::size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    const KnockState first = platform::ReadKnock(received.left(static_cast<qsizetype>(cut)));
    FUZZ_CHECK(first == KnockState::Incomplete || first == state);
    return 0;
}
