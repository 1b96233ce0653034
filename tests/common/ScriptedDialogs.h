#pragma once
// A dialog backend for tests: records every dialog and answers from a queue (Ok, or No to a
// confirmation, when the queue is empty). Installed for its lifetime.
#include "ui/Dialogs.h"

#include <deque>
#include <string>
#include <vector>

namespace testutil {

struct ShownDialog {
    ui::DialogKind kind;
    std::string title;
    std::string text;
};

class ScriptedDialogs final : public ui::DialogBackend {
public:
    ScriptedDialogs() { ui::SetDialogBackend(this); }
    ~ScriptedDialogs() override { ui::SetDialogBackend(nullptr); }
    ScriptedDialogs(const ScriptedDialogs &) = delete;
    ScriptedDialogs &operator=(const ScriptedDialogs &) = delete;

    void Answer(ui::DialogResult result) { answers.push_back(result); }

    ui::DialogResult Show(ui::DialogKind kind, const std::string &title, const std::string &text) override
    {
        shown.push_back({kind, title, text});
        if (!answers.empty()) {
            const auto r = answers.front();
            answers.pop_front();
            return r;
        }
        return kind == ui::DialogKind::Confirmation ? ui::DialogResult::No : ui::DialogResult::Ok;
    }

    std::vector<ShownDialog> shown;
    std::deque<ui::DialogResult> answers;
};

}  // namespace testutil
