// Forms: creation, show, close-query and destroy events; the dialog texts.
#include "common/ScriptedDialogs.h"
#include "ui/Application.h"
#include "ui/Exceptions.h"
#include "ui/widgets/Controls.h"
#include "ui/widgets/Forms.h"
#include "ui/widgets/QtDialogs.h"

#include <gtest/gtest.h>

namespace {

class TestForm : public ui::TForm {
public:
    TestForm() : ui::TForm("FTest")
    {
        SetClientSize(200, 100);
        label = new ui::TLabel(Client(), "Label1");
        label->SetCaption("hola");
        OnCreate = [this](ui::TObject *) {
            steps.push_back("create");
            if (failCreate)
                throw ui::EInOutError(2, "No such file or directory");
            steps.push_back("after");
        };
    }
    ui::TLabel *label;
    bool failCreate = false;
    std::vector<std::string> steps;
};

TEST(Forms, AnExceptionInTheCreationHandlerGoesToTheErrorReportAndTheFormStays)
{
    testutil::ScriptedDialogs dialogs;
    struct Fails : TestForm {
        Fails() { failCreate = true; }
    };
    const auto form = ui::CreateForm<Fails>();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->steps, (std::vector<std::string>{"create"}));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, ui::DialogKind::Error);
    EXPECT_EQ(dialogs.shown[0].title, "Drovanel");
    EXPECT_EQ(dialogs.shown[0].text, "No such file or directory.");
    EXPECT_FALSE(form->Visible());  // forms show themselves only when asked
}

TEST(Forms, ClientAreaHasItsSizeAndTheWindowCannotBeResized)
{
    TestForm form;
    form.Show();
    EXPECT_EQ(form.Client()->size(), QSize(200, 100));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    form.SetBareTitleBar();
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
}

TEST(Forms, ShowCloseQueryAndDestroyEvents)
{
    ui::Application().ResetTerminated();
    std::vector<std::string> events;
    {
        TestForm form;
        form.MainForm = true;
        bool allow = false;
        form.OnShow = [&](ui::TObject *) { events.push_back("show"); };
        form.OnCloseQuery = [&](ui::TObject *, bool &canClose) {
            events.push_back("closequery");
            canClose = allow;
        };
        // The controls are still there while the form is destroyed (the form's own class is
        // not: the handler reaches the controls, not the form's fields).
        ui::TLabel *label = form.label;
        form.OnDestroy = [&events, label](ui::TObject *sender) {
            EXPECT_EQ(ui::FindComponent(sender, "Label1"), label);
            events.push_back("destroy " + label->Caption());
        };
        form.Show();
        form.Hide();
        form.Show();
        EXPECT_FALSE(form.Close());
        EXPECT_TRUE(form.Visible());
        EXPECT_FALSE(ui::Application().Terminated());
        allow = true;
        EXPECT_TRUE(form.Close());
        EXPECT_FALSE(form.Visible());
        EXPECT_TRUE(ui::Application().Terminated());  // closing the main form ends the program
    }
    EXPECT_EQ(events, (std::vector<std::string>{"show", "show", "closequery", "closequery", "destroy hola"}));
    ui::Application().ResetTerminated();
}

TEST(Forms, AnExceptionInTheCloseQueryKeepsTheWindowOpen)
{
    testutil::ScriptedDialogs dialogs;
    TestForm form;
    form.OnCloseQuery = [](ui::TObject *, bool &) { throw ui::Exception("500 Unknown command"); };
    form.Show();
    EXPECT_FALSE(form.Close());
    EXPECT_TRUE(form.Visible());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "500 Unknown command.");
}

TEST(QtDialogs, ACarriageReturnBreaksTheLine)
{
    struct Case {
        std::string text;
        QString shown;
    } const cases[] = {
        {"Es la primera vez\ry antes", "Es la primera vez\ny antes"},
        {"uno\r\ndos", "uno\ndos"},
        {"sin salto", "sin salto"},
        {"Informaci\xF3n\r", QString::fromUtf8("Información\n")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ui::DialogDisplayText(c.text), c.shown) << c.text;
}

}  // namespace
