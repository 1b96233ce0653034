// drovanel-convert as a command: exit status, messages on standard error, the converted file.
#include "common/TempDir.h"

#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>
#include <vector>

using testutil::ReadFile;
using testutil::WriteFile;

namespace {

struct Run {
    int exitCode;
    std::string errors;
};

Run Convert(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(DROVANEL_CONVERT_COMMAND), arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << process.errorString().toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), process.readAllStandardError().toStdString()};
}

QStringList Arguments(const std::string &source, const std::string &destination, const QStringList &rest)
{
    return QStringList{QString::fromStdString(source), QString::fromStdString(destination)} + rest;
}

TEST(ConvertDriver, ConvertsAndReportsFailures)
{
    testutil::TempDir dir;
    const auto source = dir.file("temp.mdb");
    const auto destination = dir.file("Watcher-010101.mdb");
    WriteFile(source, "574C\r\n-0312345+40412V5,60\r\n+0012345-00001R2\r\n");

    const auto ok = Convert(Arguments(source, destination, {"1", "3", "3", "3", "3", "1", "3", "3"}));
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(ok.errors, "");
    EXPECT_EQ(ReadFile(destination), "574C\r\n-0312345+40412F5\r\n+0012345-00001R2\r\n");

    struct Case {
        const char *name;
        QStringList arguments;
        std::string message;  // what standard error must hold
    };
    WriteFile(dir.file("lower.mdb"), "574c\r\n");
    WriteFile(dir.file("long.mdb"), "574C\r\n-0312345+40412V5" + std::string(1 << 20, ',') + "\r\n");
    const std::vector<Case> failures = {
        {"invalid header", Arguments(dir.file("lower.mdb"), destination, {"1", "3", "3", "3", "3", "3", "3", "3"}),
         "\xC2\xA1"
         "Fichero de Watcher no v\xC3\xA1lido!"},  // as UTF-8 for the terminal
        // The dialog's line breaks become one line on the terminal.
        {"line past the cap", Arguments(dir.file("long.mdb"), destination, {"1", "3", "3", "3", "3", "3", "3", "3"}),
         "no v\xC3\xA1lido! Tiene una l\xC3\xADnea de m\xC3\xA1s de 65536 bytes\n"},
        {"missing source", Arguments(dir.file("none.mdb"), destination, {"1", "3", "3", "3", "3", "3", "3", "3"}),
         "No such file or directory"},
        {"too few levels", Arguments(source, destination, {"1", "3", "3"}), "usage:"},
        {"level not a number", Arguments(source, destination, {"1", "3", "3", "x", "3", "3", "3", "3"}), "usage:"},
        {"model not a number", Arguments(source, destination, {"W", "3", "3", "3", "3", "3", "3", "3"}), "usage:"},
    };
    for (const auto &c : failures) {
        const auto run = Convert(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.name;
        EXPECT_NE(run.errors.find(c.message), std::string::npos) << c.name << ": " << run.errors;
        EXPECT_EQ(ReadFile(destination), "574C\r\n-0312345+40412F5\r\n+0012345-00001R2\r\n") << c.name;
    }
}

}  // namespace
