// Every fuzz target once on each input of its seed corpus and of its regressions (the inputs
// that once broke it): a crash or a failed property aborts the test.
#include <QDir>
#include <QFile>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

#define FUZZ_ENTRY(name) extern "C" int FuzzEntry##name(const std::uint8_t *data, std::size_t size);
FUZZ_ENTRY(ReplyReader)
FUZZ_ENTRY(PasvReply)
FUZZ_ENTRY(FetchWord)
FUZZ_ENTRY(NameList)
FUZZ_ENTRY(TextFile)
FUZZ_ENTRY(Conversion)
FUZZ_ENTRY(RegFile)
FUZZ_ENTRY(AnnouncedSize)
FUZZ_ENTRY(ParsePort)
FUZZ_ENTRY(PlainFileName)
FUZZ_ENTRY(SettingValues)
FUZZ_ENTRY(Text)
FUZZ_ENTRY(ActivationLine)
FUZZ_ENTRY(NewsText)
FUZZ_ENTRY(FtpGetEscape)
FUZZ_ENTRY(FtpExchange)
#undef FUZZ_ENTRY

namespace {

struct Target {
    const char *folder;
    int (*entry)(const std::uint8_t *, std::size_t);
};

class Replay : public ::testing::TestWithParam<Target> {};

TEST_P(Replay, SeedsAndRegressions)
{
    const QString root = QString::fromLocal8Bit(qgetenv("DROVANEL_SOURCE_DIR")) + "/tests/fuzz/";
    int inputs = 0;
    for (const char *kind : {"corpus/", "regressions/"}) {
        const QDir dir(root + kind + GetParam().folder);
        for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray bytes = file.readAll();
            SCOPED_TRACE(dir.filePath(name).toStdString());
            GetParam().entry(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                             static_cast<std::size_t>(bytes.size()));
            ++inputs;
        }
    }
    EXPECT_GT(inputs, 0) << "a target without seeds";
}

INSTANTIATE_TEST_SUITE_P(
    Fuzz, Replay,
    ::testing::Values(Target{"reply_reader", FuzzEntryReplyReader}, Target{"pasv_reply", FuzzEntryPasvReply},
                      Target{"fetch_word", FuzzEntryFetchWord}, Target{"name_list", FuzzEntryNameList},
                      Target{"text_file", FuzzEntryTextFile}, Target{"conversion", FuzzEntryConversion},
                      Target{"regfile", FuzzEntryRegFile}, Target{"announced_size", FuzzEntryAnnouncedSize},
                      Target{"parse_port", FuzzEntryParsePort}, Target{"plain_file_name", FuzzEntryPlainFileName},
                      Target{"setting_values", FuzzEntrySettingValues}, Target{"text", FuzzEntryText},
                      Target{"activation_line", FuzzEntryActivationLine}, Target{"news_text", FuzzEntryNewsText},
                      Target{"ftpget_escape", FuzzEntryFtpGetEscape}, Target{"ftp_exchange", FuzzEntryFtpExchange}),
    [](const auto &info) { return std::string(info.param.folder); });

}  // namespace
