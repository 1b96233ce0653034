#include "TestForm.h"

#include "framework/Classes.h"
#include "shell/StoredProperties.h"

#include <QCloseEvent>

namespace testforms {

TFPral::TFPral()
{
    setObjectName(QStringLiteral("FPral"));
    setFixedSize(396, 291);
    move(160, 164);
    auto named = [this](auto *control, const char *name) {
        control->setObjectName(QString::fromLatin1(name));
        return control;
    };
    DirectoryEdit1 = named(new TTestEdit(this), "DirectoryEdit1");
    Avisadores = named(new TTestItems(this), "Avisadores");
    Avisadores->SetItemIndex(1);
    ComprobarChk = named(new TTestCheck(this), "ComprobarChk");
    ComprobarChk->SetChecked(true);
    for (int i = 1; i <= 14; ++i) {
        cxTrackBar[static_cast<size_t>(i)] = named(new TTestTrackBar(this), ("cxTrackBar" + std::to_string(i)).c_str());
        // Watcher levels (1 to 5, 11, 12) go from 0 to 3, Sentry III levels from 0 to 2.
        const bool watcher = i <= 5 || i == 11 || i == 12;
        cxTrackBar[static_cast<size_t>(i)]->SetPosition(watcher ? 3 : 2);
    }
    Minimizar = named(new TTestCheck(this), "Minimizar");
    ServerTypeRadioGroup = named(new TTestItems(this), "ServerTypeRadioGroup");
    ServerTypeRadioGroup->SetItemIndex(0);
    ProxyServerEdit1 = named(new TTestEdit(this), "ProxyServerEdit1");
    ProxyPortEdit1 = named(new TTestSpinEdit(this), "ProxyPortEdit1");
    ProxyPortEdit1->SetValue(21);
    Label1 = named(new TTestLabel(this), "Label1");

    FormStorage1 = new settings::TFormStorage(this);
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->SetStoredProps(shell::MainFormStoredProps());
    FormStorage1->Loaded();
}

TFPral::~TFPral()
{
    FormStorage1->FormDestroy();
}

void TFPral::closeEvent(QCloseEvent *event)
{
    ++CloseQueries;
    event->setAccepted(CanClose);
}

void TFPral::showEvent(QShowEvent *event)
{
    FolderAtShow = DirectoryEdit1->Text();
    QWidget::showEvent(event);
}

std::vector<std::pair<std::string, QVariant>> TFPral::Defaults()
{
    std::vector<std::pair<std::string, QVariant>> defaults = {
        {"DirectoryEdit1.Text", QString()}, {"Avisadores.ItemIndex", 1},           {"ComprobarChk.Checked", true},
        {"Minimizar.Checked", false},       {"ServerTypeRadioGroup.ItemIndex", 0}, {"ProxyServerEdit1.Text", QString()},
        {"ProxyPortEdit1.Value", 21.0},
    };
    for (int i = 1; i <= 14; ++i) {
        const bool watcher = i <= 5 || i == 11 || i == 12;
        defaults.emplace_back("cxTrackBar" + std::to_string(i) + ".Position", watcher ? 3 : 2);
    }
    return defaults;
}

QVariant TFPral::Value(const std::string &entry) const
{
    const auto dot = entry.find('.');
    const QObject *component = fw::FindComponent(this, entry.substr(0, dot));
    return component ? component->property(entry.substr(dot + 1).c_str()) : QVariant();
}

void TFPral::SetValue(const std::string &entry, const QVariant &value)
{
    const auto dot = entry.find('.');
    if (QObject *component = fw::FindComponent(this, entry.substr(0, dot)))
        component->setProperty(entry.substr(dot + 1).c_str(), value);
}

}  // namespace testforms
