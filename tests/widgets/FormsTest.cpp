// Forms: creation, show, close-query and destroy events; the dialog texts.
#include "common/ScriptedDialogs.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "widgets/Controls.h"
#include "widgets/Forms.h"
#include "widgets/QtDialogs.h"

#include <gtest/gtest.h>

namespace {

class TestForm : public fw::TForm {
public:
    TestForm() : fw::TForm("FTest")
    {
        SetClientSize(200, 100);
        label = new fw::TLabel(Client(), "Label1");
        label->SetCaption("hola");
        OnCreate = [this](fw::TObject *) {
            steps.push_back("create");
            if (failCreate)
                throw fw::EInOutError(2, "No such file or directory");
            steps.push_back("after");
        };
    }
    fw::TLabel *label;
    bool failCreate = false;
    std::vector<std::string> steps;
};

TEST(Forms, AnExceptionInTheCreationHandlerGoesToTheErrorReportAndTheFormStays)
{
    testutil::ScriptedDialogs dialogs;
    struct Fails : TestForm {
        Fails() { failCreate = true; }
    };
    const auto form = fw::CreateForm<Fails>();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->steps, (std::vector<std::string>{"create"}));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, fw::DialogKind::Error);
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
    fw::Application().ResetTerminated();
    std::vector<std::string> events;
    {
        TestForm form;
        form.MainForm = true;
        bool allow = false;
        form.OnShow = [&](fw::TObject *) { events.push_back("show"); };
        form.OnCloseQuery = [&](fw::TObject *, bool &canClose) {
            events.push_back("closequery");
            canClose = allow;
        };
        // The controls are still there while the form is destroyed (the form's own class is
        // not: the handler reaches the controls, not the form's fields).
        fw::TLabel *label = form.label;
        form.OnDestroy = [&events, label](fw::TObject *sender) {
            EXPECT_EQ(fw::FindComponent(sender, "Label1"), label);
            events.push_back("destroy " + label->Caption());
        };
        form.Show();
        form.Hide();
        form.Show();
        EXPECT_FALSE(form.Close());
        EXPECT_TRUE(form.Visible());
        EXPECT_FALSE(fw::Application().Terminated());
        allow = true;
        EXPECT_TRUE(form.Close());
        EXPECT_FALSE(form.Visible());
        EXPECT_TRUE(fw::Application().Terminated());  // closing the main form ends the program
    }
    EXPECT_EQ(events, (std::vector<std::string>{"show", "show", "closequery", "closequery", "destroy hola"}));
    fw::Application().ResetTerminated();
}

TEST(Forms, AnExceptionInTheCloseQueryKeepsTheWindowOpen)
{
    // A handler that has already said yes when it fails has not finished deciding either.
    for (const bool saidYes : {false, true}) {
        SCOPED_TRACE(saidYes);
        testutil::ScriptedDialogs dialogs;
        TestForm form;
        form.OnCloseQuery = [saidYes](fw::TObject *, bool &canClose) {
            canClose = saidYes;
            throw fw::Exception("500 Unknown command");
        };
        form.Show();
        EXPECT_FALSE(form.Close());
        EXPECT_TRUE(form.Visible());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].text, "500 Unknown command.");
    }
}

TEST(Forms, AnExceptionInTheShowOrDestroyHandlerGoesToTheErrorReport)
{
    testutil::ScriptedDialogs dialogs;
    {
        TestForm form;
        form.OnShow = [](fw::TObject *) { throw fw::Exception("Sin mapa"); };
        form.OnDestroy = [](fw::TObject *) { throw fw::Exception("Sin registro"); };
        form.Show();
        EXPECT_TRUE(form.Visible());
    }
    std::vector<std::string> texts;
    for (const auto &d : dialogs.shown) {
        EXPECT_EQ(d.kind, fw::DialogKind::Error);
        texts.push_back(d.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Sin mapa.", "Sin registro."}));
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
        EXPECT_EQ(fw::DialogDisplayText(c.text), c.shown) << c.text;
}

}  // namespace
