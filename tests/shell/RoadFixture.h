#pragma once
// The main form with its real update check and download, its download folder in a temporary
// folder, the news it shows and the melodies recorded (the melodies instead of performed).
#include "PralFixture.h"
#include "common/TempDir.h"
#include "shell/Updates.h"
#include "sound/BTOdeum.h"

#include <QUrl>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace roadtest {

class RecordingSink final : public sound::TToneSink {
public:
    void PlayTone(std::uint16_t frequency, std::int32_t durationMs) override
    {
        tones.emplace_back(frequency, durationMs);
    }
    std::vector<std::pair<std::uint16_t, std::int32_t>> tones;
};

// The notes of one psClimb at the main form's beat.
inline std::vector<std::pair<std::uint16_t, std::int32_t>> OneClimb()
{
    RecordingSink sink;
    sound::TBTBeeper::SetToneSink(&sink);
    sound::TBTBeeper beeper(nullptr);
    beeper.BeatDuration = sound::bd_500;
    beeper.PlayPreset(sound::psClimb);
    sound::TBTBeeper::SetToneSink(nullptr);
    return sink.tones;
}

struct OpenRequest {
    std::string path;
    std::string content;  // the file's bytes when it was handed over
    bool buttonEnabled;   // the download button at that moment
};

class RoadTest : public PralTest {
protected:
    void SetUp() override
    {
        PralTest::SetUp();
        melody = OneClimb();
        ASSERT_FALSE(melody.empty());
        sound::TBTBeeper::SetToneSink(&sink);
    }
    void TearDown() override
    {
        form.reset();
        sound::TBTBeeper::SetToneSink(nullptr);
        PralTest::TearDown();
    }

    // The main form over the download folder, started as a user set it up: window hidden, the
    // start-up check off unless `settings` turns it on.
    void Start(const std::function<void(TFPral &)> &settings = {})
    {
        form = std::make_unique<TFPral>();
        form->Check().OnNewsShown = [this](const std::string &path) {
            opened.push_back({path, testutil::ReadFile(path), form->cxButton1->Enabled()});
        };
        form->DirectoryEdit1->SetText(folder.path());
        form->ComprobarChk->SetChecked(false);
        form->Minimizar->SetChecked(true);
        if (settings)
            settings(*form);
        form->DoCreate();
    }
    // The update server reached straight at a loopback port.
    void Direct(std::uint16_t port) { form->msFTPClient1->SetHost("127.0.0.1:" + std::to_string(port)); }
    // The update server reached through the proxy setting (type "Usuario con no Logon").
    static std::function<void(TFPral &)> ThroughProxy(std::uint16_t port, bool startupCheck)
    {
        return [port, startupCheck](TFPral &f) {
            f.ProxyServerEdit1->SetText("127.0.0.1");
            f.ProxyPortEdit1->SetValue(port);
            f.ServerTypeRadioGroup->SetItemIndex(0);
            f.ComprobarChk->SetChecked(startupCheck);
        };
    }

    std::string local(const std::string &name) const { return folder.file(name); }
    std::vector<std::string> errors() const
    {
        std::vector<std::string> texts;
        for (const auto &d : dialogs.shown)
            if (d.kind == fw::DialogKind::Error)
                texts.push_back(d.text);
        return texts;
    }
    std::vector<std::string> messages() const
    {
        std::vector<std::string> texts;
        for (const auto &d : dialogs.shown)
            if (d.kind == fw::DialogKind::Message)
                texts.push_back(d.text);
        return texts;
    }
    int melodies() const
    {
        if (sink.tones.size() % melody.size() != 0)
            return -1;
        for (size_t i = 0; i < sink.tones.size(); ++i)
            if (sink.tones[i] != melody[i % melody.size()])
                return -1;
        return static_cast<int>(sink.tones.size() / melody.size());
    }

    testutil::TempDir folder;
    std::unique_ptr<TFPral> form;
    RecordingSink sink;
    std::vector<std::pair<std::uint16_t, std::int32_t>> melody;
    std::vector<OpenRequest> opened;  // the news shown in the program's window
};

}  // namespace roadtest
