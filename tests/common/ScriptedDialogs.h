#pragma once
// A dialog backend for tests: records every dialog and answers from a queue (Ok, or No to a
// confirmation, when the queue is empty). Installed for its lifetime.
#include "framework/Dialogs.h"

#include <deque>
#include <string>
#include <vector>

namespace testutil {

struct ShownDialog {
    fw::DialogKind kind;
    std::string title;
    std::string text;
};

class ScriptedDialogs final : public fw::DialogBackend {
public:
    ScriptedDialogs() { fw::SetDialogBackend(this); }
    ~ScriptedDialogs() override { fw::SetDialogBackend(nullptr); }
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    void Answer(fw::DialogResult result) { answers.push_back(result); }

    fw::DialogResult Show(fw::DialogKind kind, const std::string &title, const std::string &text) override
    {
        shown.push_back({kind, title, text});
        if (!answers.empty()) {
            const auto r = answers.front();
            answers.pop_front();
            return r;
        }
        return kind == fw::DialogKind::Confirmation ? fw::DialogResult::No : fw::DialogResult::Ok;
    }

    std::vector<ShownDialog> shown;
    std::deque<fw::DialogResult> answers;
};

}  // namespace testutil
