#pragma once
// The settings store: a form's position and a list of its controls' properties kept in the
// current user's registry, under "Software\<executable name>\<form class>", every value as text.
//
// TFormPlacement keeps the window position; TFormStorage adds the stored properties, each entry
// "Component.Property" bound by name to a control of the owner form and reached through Qt's
// meta-object system, so any control with that Q_PROPERTY can be stored.
//
// Wiring into a form (see TFormPlacement::Loaded and FormDestroy):
//     FormStorage1 = new settings::TFormStorage(this);        // owned by the form
//     FormStorage1->setObjectName("FormStorage1");
//     FormStorage1->SetStoredProps(entries);                  // "Component.Property", ...
//     FormStorage1->Loaded();                                 // after the controls exist
//     ...
//     TFPral::~TFPral() { FormStorage1->FormDestroy(); }       // first thing, controls alive
#include "framework/Classes.h"
#include "framework/Exceptions.h"
#include "platform/Registry.h"

#include <QMetaProperty>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

class QWidget;

namespace settings {

// A registry failure of the store; the message names the key, the value or the file.
class ERegistryException : public fw::Exception {
public:
    using fw::Exception::Exception;
};

// The application's key, open for the length of one Restore or Save. Opening creates the key when
// it is missing (even for a restore); the destructor closes it.
class TStoreKey {
public:
    TStoreKey(platform::HKEY root, std::string path);
    ~TStoreKey();
    TStoreKey(const TStoreKey &) = delete;
    TStoreKey &operator=(const TStoreKey &) = delete;

    // The value's text, or `def` when the subkey or the value is missing. Raises "Error al leer"
    // or "Tipo de dato inválido para" (anything but REG_SZ and REG_EXPAND_SZ).
    std::string ReadString(const std::string &section, const std::string &name, const std::string &def) const;
    // The value as an integer; `def` when it is missing or not an integer.
    int ReadInteger(const std::string &section, const std::string &name, int def) const;
    // Creates the subkey when missing and writes the text as REG_SZ with its NUL.
    void WriteString(const std::string &section, const std::string &name, const std::string &text) const;
    void WriteInteger(const std::string &section, const std::string &name, int value) const;

    // Closes the key now and gives the registry's result: closing the last open key writes the
    // registry file, and that can fail.
    platform::LONG Close();

private:
    platform::HKEY m_key = 0;
    std::string m_path;
};

class TFormPlacement : public fw::TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(QString IniFileName READ IniFileNameText WRITE SetIniFileNameText)
    Q_PROPERTY(QString IniSection READ IniSectionText WRITE SetIniSectionText)
    Q_PROPERTY(TPlacementOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(TPlacementRegRoot RegistryRoot READ RegistryRoot WRITE SetRegistryRoot)
    Q_PROPERTY(bool UseRegistry READ UseRegistry WRITE SetUseRegistry)
    Q_PROPERTY(int Version READ Version WRITE SetVersion)
public:
    enum TPlacementOption { fpState = 0x1, fpPosition = 0x2, fpActiveControl = 0x4 };
    Q_DECLARE_FLAGS(TPlacementOptions, TPlacementOption)
    Q_FLAG(TPlacementOptions)
    enum TPlacementRegRoot { prCurrentUser, prLocalMachine, prCurrentConfig, prClassesRoot, prUsers, prDynData };
    Q_ENUM(TPlacementRegRoot)

    // The owner is the form whose position and controls are kept; it owns the store.
    explicit TFormPlacement(QWidget *owner);
    ~TFormPlacement() override;

    bool Active() const { return m_active; }
    void SetActive(bool active) { m_active = active; }
    // Empty: "Software\" and the executable's name without folder and extension.
    const std::string &IniFileName() const { return m_iniFileName; }
    void SetIniFileName(std::string name) { m_iniFileName = std::move(name); }
    // Empty: the owner form's class name.
    const std::string &IniSection() const { return m_iniSection; }
    void SetIniSection(std::string name) { m_iniSection = std::move(name); }
    TPlacementOptions Options() const { return m_options; }
    void SetOptions(TPlacementOptions options) { m_options = options; }
    TPlacementRegRoot RegistryRoot() const { return m_registryRoot; }
    void SetRegistryRoot(TPlacementRegRoot root) { m_registryRoot = root; }
    bool UseRegistry() const { return m_useRegistry; }
    void SetUseRegistry(bool useRegistry) { m_useRegistry = useRegistry; }
    // Settings stored with a lower "FormVersion" are not restored.
    int Version() const { return m_version; }
    void SetVersion(int version) { m_version = version; }

    // The key path and the subkey that hold the values.
    std::string KeyPath() const;
    std::string SectionName() const;

    // Reads the stored values into the form and its controls. Raises ERegistryException.
    void Restore();
    // Writes the form's position and the stored properties, with "Visible" "0". Does nothing until
    // a Restore has happened. Raises ERegistryException.
    void Save();
    // A save that the user asked for while the window stays open (a settings page's "Guardar"),
    // or a last save when the process is ending unexpectedly: writes as Save does, durably, but
    // leaves the saved mark as it was, so the destroy hook still saves what changes after it.
    void SaveNow();

    // A value of the form's subkey that no control holds (one the user may set by hand), as an
    // integer; `def` when it is missing or not an integer. Raises ERegistryException.
    int ReadInteger(const std::string &name, int def) const;
    // The same as text; `def` when it is missing. Raises ERegistryException.
    std::string ReadString(const std::string &name, const std::string &def) const;
    // Writes such a value, durably (the registry file is written at once). Raises
    // ERegistryException.
    void WriteString(const std::string &name, const std::string &text) const;

    // Call once the owner's controls exist (the form has been "loaded"): binds what the store
    // keeps and takes over the form's show and close-query events. From then on, while Active,
    // every show of the form restores before the form's own show handling, and a close that the
    // form's own close handling accepts is followed by a save. Errors there go to the
    // application's error report and the show or close goes on.
    virtual void Loaded();
    // The destroy hook. Call it first thing in the owner's destructor, while its controls still
    // exist: saves with "Visible" "1" when no save followed the last restore.
    void FormDestroy();

    bool IsRestored() const { return m_restored; }
    bool IsSaved() const { return m_saved; }

protected:
    QWidget *Form() const;
    bool eventFilter(QObject *watched, QEvent *event) override;
    // The stored properties of TFormStorage; nothing here.
    virtual void RestoreStoredProperties(const TStoreKey &) {}
    virtual void SaveStoredProperties(const TStoreKey &) {}

private:
    QString IniFileNameText() const;
    void SetIniFileNameText(const QString &text);
    QString IniSectionText() const;
    void SetIniSectionText(const QString &text);

    std::unique_ptr<TStoreKey> OpenStore() const;
    void SaveAs(bool destroying);
    void RestorePosition(const TStoreKey &key);
    void SavePosition(const TStoreKey &key, bool destroying);
    void ApplyMaxPosition();

    QPointer<QWidget> m_form;
    mutable std::string m_formClass;
    bool m_active = true;
    std::string m_iniFileName;
    std::string m_iniSection;
    TPlacementOptions m_options = fpPosition;
    TPlacementRegRoot m_registryRoot = prCurrentUser;
    bool m_useRegistry = true;
    int m_version = 0;
    bool m_restored = false;
    bool m_saved = false;
    bool m_hooked = false;
    bool m_inClose = false;
};

class TFormStorage : public TFormPlacement {
    Q_OBJECT
public:
    explicit TFormStorage(QWidget *owner);

    // The entries "Component.Property", in the order of writing and of reading. Once bound (at
    // Loaded, or at the next Restore or Save), entries that name no component of the form, or
    // no property of it that can be stored as text, are dropped from the list.
    const fw::TStringList &StoredProps() const { return m_storedProps; }
    void SetStoredProps(const fw::TStringList &entries);
    void SetStoredProps(const std::vector<std::string> &entries);

    void Loaded() override;

protected:
    void RestoreStoredProperties(const TStoreKey &key) override;
    void SaveStoredProperties(const TStoreKey &key) override;

private:
    enum class Kind { Integer, Boolean, Enumeration, Float, Text };
    struct Binding {
        QPointer<QObject> component;
        QMetaProperty property;
        Kind kind;
        std::string valueName;
    };
    void Bind();
    static std::string PropertyText(const Binding &binding);
    static void SetPropertyText(const Binding &binding, const std::string &text);

    fw::TStringList m_storedProps;
    std::vector<Binding> m_bindings;
    bool m_bound = false;
};

// The text forms of the stored values, independent of the user's locale where they must be.
std::string TrimText(std::string_view text);
// Decimal digits (an optional sign, or "$"/"0x" and hexadecimal digits) of a 32-bit integer.
bool TryStrToInt(std::string_view text, int &value);
// General format with at most 18 significant digits, always with ".".
std::string FloatToText(double value);
// The text with the locale's decimal separator or "." before the decimals.
bool TryTextToFloat(std::string_view text, double &value);
// The words of a stored window position ("MinMaxPos", "NormPos"): the text split at commas and
// blanks, runs of separators counting as one.
std::vector<std::string> PositionWords(std::string_view text);
// Stored coordinates beyond this lie on no screen anyway; keeping them within it lets the window
// arithmetic (right = left + width) never overflow, and the window is then brought onto a screen.
inline constexpr int kFarthestCoordinate = 1 << 20;
// The coordinate at `index` of those words: the word as an integer (TryStrToInt) kept within
// kFarthestCoordinate of 0, or `def` when there is no such word or it is not an integer.
int PositionNumber(const std::vector<std::string> &words, std::size_t index, int def);
// Whether two names are the same, letter case ignored: a stored Boolean or enumeration value
// against the enumerator's name, a stored property's name against the control's.
bool SameText(std::string_view a, std::string_view b);

}  // namespace settings

Q_DECLARE_OPERATORS_FOR_FLAGS(settings::TFormPlacement::TPlacementOptions)
