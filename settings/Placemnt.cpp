#include "settings/Placemnt.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Dialogs.h"
#include "settings/WinPlacement.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QScopedValueRollback>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>

namespace settings {

using namespace platform;
using namespace settings::win;

namespace {

// The messages name the key, value or file in single quotes, as the user sees them.
[[noreturn]] void raiseCreateFailed(const std::string &key)
{
    throw ERegistryException("Error al crear la llave " + key);
}
[[noreturn]] void raiseWriteFailed(const std::string &name)
{
    throw ERegistryException("Error al guardar '" + name + "'");
}
[[noreturn]] void raiseReadFailed(const std::string &name)
{
    throw ERegistryException("Error al leer '" + name + "'");
}
[[noreturn]] void raiseInvalidType(const std::string &name)
{
    throw ERegistryException("Tipo de dato inválido para '" + name + "'");
}

HKEY rootKey(TFormPlacement::TPlacementRegRoot root)
{
    switch (root) {
    case TFormPlacement::prCurrentUser: return HKEY_CURRENT_USER;
    case TFormPlacement::prLocalMachine: return HKEY_LOCAL_MACHINE;
    case TFormPlacement::prCurrentConfig: return HKEY_CURRENT_CONFIG;
    case TFormPlacement::prClassesRoot: return HKEY_CLASSES_ROOT;
    case TFormPlacement::prUsers: return HKEY_USERS;
    case TFormPlacement::prDynData: return HKEY_DYN_DATA;
    }
    return HKEY_CURRENT_USER;
}

// Closes a subkey however the step that used it ends.
class SubKey {
public:
    SubKey() = default;
    ~SubKey()
    {
        if (handle)
            RegCloseKey(handle);
    }
    SubKey(const SubKey &) = delete;
    SubKey &operator=(const SubKey &) = delete;
    HKEY handle = 0;
};

std::string screenSizeSuffix()
{
    return "(" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" + std::to_string(GetSystemMetrics(SM_CYSCREEN)) +
           ")";
}

std::string fourNumbers(int a, int b, int c, int d)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", a, b, c, d);
    return text;
}

// Tells the user once that the settings file had lines that were not read, and where its copy is.
void reportSkippedLines()
{
    const QString copy = RegistryTakeSkippedCopy();
    if (copy.isEmpty())
        return;
    fw::ShowMessage("Algunas líneas del archivo de configuración no se han podido leer y no se han tenido en "
                    "cuenta; el resto de la configuración se ha cargado.\rSe ha guardado una copia del archivo "
                    "tal como estaba en:\r" +
                    fw::ToAnsi(copy));
}

// The class name as written in the source, without namespaces.
std::string bareClassName(const QObject *object)
{
    std::string name = object->metaObject()->className();
    const auto colons = name.rfind("::");
    return colons == std::string::npos ? name : name.substr(colons + 2);
}

// The height of a title bar where the window has none yet to measure (before it is first shown).
constexpr int kTitleBarHeight = 24;
// How much of a title bar must be on a screen for the user to take hold of it.
constexpr int kTitleBarGrip = 64;

// Whether the title bar of a window whose frame is `frame` (its top `titleHeight` pixels) lands on
// an available screen, whole in height and with enough of its width to take hold of.
bool titleBarOnScreen(const QRect &frame, int titleHeight)
{
    const QRect bar(frame.left(), frame.top(), frame.width(), std::max(1, titleHeight));
    const auto screens = QGuiApplication::screens();
    return std::any_of(screens.begin(), screens.end(), [&](const QScreen *screen) {
        const QRect on = screen->availableGeometry().intersected(bar);
        return on.height() == bar.height() && on.width() >= std::min(bar.width(), kTitleBarGrip);
    });
}

// Where the compositor keeps the windows' positions to itself (Wayland): a position read back is
// made up, and one set is ignored.
bool positionHidden()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

std::string executableName()
{
    QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (name.isEmpty())
        name = QCoreApplication::applicationName();
    return fw::ToAnsi(name);
}

}  // namespace

// ---- Text forms --------------------------------------------------------------------------------

std::string TrimText(std::string_view text)
{
    // Blanks and control characters: every byte up to the space.
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return std::string(text);
}

bool TryStrToInt(std::string_view text, int &value)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    // Unsigned, so that a second sign ("--0", "$-0") is no number.
    unsigned long long magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size() || magnitude > 1ULL << 31)
        return false;
    const long long result = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (result < std::numeric_limits<int>::min() || result > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(result);
    return true;
}

std::string FloatToText(double value)
{
    // The shortest text that reads back as the same number: 21.1 is "21.1", not the 18 digits of
    // the double nearest to it.
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    if (ec != std::errc())
        return "0";
    std::string out(text, end);
    // "1e+20" and "1e-07" are written "1E20" and "1E-7".
    const auto e = out.find('e');
    if (e != std::string::npos) {
        std::string mantissa = out.substr(0, e);
        std::string exponent = out.substr(e + 1);
        bool negative = false;
        if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
            negative = exponent[0] == '-';
            exponent.erase(0, 1);
        }
        exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
        out = mantissa + "E" + (negative ? "-" : "") + exponent;
    }
    return out;
}

bool TryTextToFloat(std::string_view text, double &value)
{
    std::string normal(text);
    const QString separator = QLocale().decimalPoint();
    if (separator.size() == 1 && separator[0].unicode() < 0x100 && separator[0] != QLatin1Char('.')) {
        const char localSeparator = static_cast<char>(separator[0].unicode());
        for (char &c : normal) {
            if (c == localSeparator)
                c = '.';
        }
    }
    std::string_view digits = normal;
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-')
            return false;
    }
    double parsed = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), parsed);
    if (ec != std::errc() || end != digits.data() + digits.size() || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

std::vector<std::string> PositionWords(std::string_view text)
{
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ',' || c == ' ') {
            if (!word.empty())
                words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(std::move(word));
    return words;
}

int PositionNumber(const std::vector<std::string> &words, std::size_t index, int def)
{
    int value = 0;
    if (index < words.size() && TryStrToInt(words[index], value))
        return std::clamp(value, -kFarthestCoordinate, kFarthestCoordinate);
    return def;
}

bool SameText(std::string_view a, std::string_view b)
{
    // Letter case folds one character to one, so texts of different lengths never match; plain
    // ASCII (every name and stored word the program has) needs no conversion.
    if (a.size() != b.size())
        return false;
    const auto ascii = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    if (ascii(a) && ascii(b)) {
        return std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
            const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
            return lower(x) == lower(y);
        });
    }
    return QString::fromLatin1(a.data(), static_cast<qsizetype>(a.size()))
               .compare(QString::fromLatin1(b.data(), static_cast<qsizetype>(b.size())), Qt::CaseInsensitive) == 0;
}

// ---- The open store ----------------------------------------------------------------------------

TStoreKey::TStoreKey(HKEY root, std::string path) : m_path(std::move(path))
{
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExA(root, m_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                    &m_key, &disposition);
    if (rc != ERROR_SUCCESS) {
        m_key = 0;
        if (rc == ERROR_BAD_FILE_TYPE)
            throw ERegistryException("El archivo de configuración '" + fw::ToAnsi(RegistryFile()) +
                                     "' no es un archivo normal (es una carpeta o una tubería)");
        raiseCreateFailed(m_path);
    }
}

TStoreKey::~TStoreKey()
{
    Close();
}

LONG TStoreKey::Close()
{
    if (!m_key)
        return ERROR_SUCCESS;
    const HKEY key = m_key;
    m_key = 0;
    return RegCloseKey(key);
}

std::string TStoreKey::ReadString(const std::string &section, const std::string &name, const std::string &def) const
{
    SubKey sub;
    if (RegOpenKeyExA(m_key, section.c_str(), 0, KEY_READ, &sub.handle) != ERROR_SUCCESS) {
        sub.handle = 0;
        return def;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(sub.handle, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return def;
    std::string data(size, '\0');
    if (RegQueryValueExA(sub.handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(data.data()), &size) !=
        ERROR_SUCCESS)
        raiseReadFailed(name);
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        raiseInvalidType(name);
    data.resize(size);
    return data.substr(0, data.find('\0'));
}

int TStoreKey::ReadInteger(const std::string &section, const std::string &name, int def) const
{
    int value = 0;
    return TryStrToInt(TrimText(ReadString(section, name, std::to_string(def))), value) ? value : def;
}

void TStoreKey::WriteString(const std::string &section, const std::string &name, const std::string &text) const
{
    {
        SubKey created;
        DWORD disposition = 0;
        if (RegCreateKeyExA(m_key, section.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &created.handle, &disposition) != ERROR_SUCCESS) {
            created.handle = 0;
            raiseCreateFailed(section);
        }
    }
    SubKey sub;
    if (RegOpenKeyExA(m_key, section.c_str(), 0, KEY_ALL_ACCESS, &sub.handle) != ERROR_SUCCESS) {
        sub.handle = 0;
        raiseWriteFailed(name);
    }
    const std::string data = text + '\0';
    if (RegSetValueExA(sub.handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.data()),
                       static_cast<DWORD>(data.size())) != ERROR_SUCCESS)
        raiseWriteFailed(name);
}

void TStoreKey::WriteInteger(const std::string &section, const std::string &name, int value) const
{
    WriteString(section, name, std::to_string(value));
}

// ---- TFormPlacement ----------------------------------------------------------------------------

TFormPlacement::TFormPlacement(QWidget *owner) : fw::TComponent(owner), m_form(owner) {}

TFormPlacement::~TFormPlacement()
{
    if (m_hooked && m_form)
        m_form->removeEventFilter(this);
}

QWidget *TFormPlacement::Form() const
{
    return m_form.data();
}

QString TFormPlacement::IniFileNameText() const
{
    return fw::FromAnsi(m_iniFileName);
}
void TFormPlacement::SetIniFileNameText(const QString &text)
{
    m_iniFileName = fw::ToAnsi(text);
}
QString TFormPlacement::IniSectionText() const
{
    return fw::FromAnsi(m_iniSection);
}
void TFormPlacement::SetIniSectionText(const QString &text)
{
    m_iniSection = fw::ToAnsi(text);
}

std::string TFormPlacement::KeyPath() const
{
    return m_iniFileName.empty() ? "Software\\" + executableName() : m_iniFileName;
}

std::string TFormPlacement::SectionName() const
{
    if (!m_iniSection.empty())
        return m_iniSection;
    // Taken while the form is whole: in its destructor the form no longer knows its own class.
    if (m_formClass.empty() && m_form)
        m_formClass = bareClassName(m_form);
    return m_formClass;
}

std::unique_ptr<TStoreKey> TFormPlacement::OpenStore() const
{
    if (!m_useRegistry)
        throw ERegistryException("INI files are not supported: the settings are kept in the registry");
    return std::make_unique<TStoreKey>(rootKey(m_registryRoot), KeyPath());
}

int TFormPlacement::ReadInteger(const std::string &name, int def) const
{
    return OpenStore()->ReadInteger(SectionName(), name, def);
}

std::string TFormPlacement::ReadString(const std::string &name, const std::string &def) const
{
    return OpenStore()->ReadString(SectionName(), name, def);
}

void TFormPlacement::WriteString(const std::string &name, const std::string &text) const
{
    auto key = OpenStore();
    key->WriteString(SectionName(), name, text);
    if (key->Close() != ERROR_SUCCESS)
        raiseWriteFailed(fw::ToAnsi(RegistryFile()));
}

void TFormPlacement::Loaded()
{
    SectionName();
    if (!m_hooked && m_form) {
        m_form->installEventFilter(this);
        m_hooked = true;
    }
}

void TFormPlacement::Restore()
{
    m_saved = false;
    const std::string section = SectionName();
    {
        auto key = OpenStore();
        if (key->ReadInteger(section, "FormVersion", 0) >= m_version) {
            if (m_options.testFlag(fpPosition))
                RestorePosition(*key);
            try {
                RestoreStoredProperties(*key);
            } catch (...) {
                // An error that escapes the pass over the stored properties ends it, silently.
            }
        }
        m_restored = true;
        // The restore changed nothing worth reporting if the file cannot be written now; the
        // registry keeps any change pending and the next save reports a failed write.
        key->Close();
    }
    reportSkippedLines();
    ApplyMaxPosition();
}

void TFormPlacement::RestorePosition(const TStoreKey &key)
{
    QWidget *form = m_form.data();
    if (!form)
        return;
    const std::string section = SectionName();
    WINDOWPLACEMENT placement;
    GetWindowPlacement(form, &placement);
    if (!IsWindowVisible(form))
        placement.showCmd = SW_HIDE;  // applying the placement must not show the window
    placement.flags = static_cast<UINT>(key.ReadInteger(section, "Flags", static_cast<int>(placement.flags)));

    const std::string suffix = screenSizeSuffix();
    std::string minMax = key.ReadString(section, "MinMaxPos" + suffix, "");
    if (minMax.empty())
        minMax = key.ReadString(section, "MinMaxPos", "");
    std::string normal = key.ReadString(section, "NormPos" + suffix, "");
    if (normal.empty())
        normal = key.ReadString(section, "NormPos", "");
    const bool found = !minMax.empty() || !normal.empty();

    const auto mm = PositionWords(minMax);
    placement.ptMinPosition = POINT{PositionNumber(mm, 0, 0), PositionNumber(mm, 1, 0)};
    placement.ptMaxPosition = POINT{PositionNumber(mm, 2, 0), PositionNumber(mm, 3, 0)};
    const QRect frame = form->frameGeometry();
    const auto np = PositionWords(normal);
    RECT rect{PositionNumber(np, 0, frame.left()), PositionNumber(np, 1, frame.top()),
              PositionNumber(np, 2, frame.left() + frame.width()), PositionNumber(np, 3, frame.top() + frame.height())};

    const int pixelsPerInch = ScreenPixelsPerInch();
    const int storedPixelsPerInch = key.ReadInteger(section, "PixelsPerInch", pixelsPerInch);
    if (!found || storedPixelsPerInch != pixelsPerInch)
        return;
    if (BorderStyleOf(form) != BorderStyle::Sizeable) {
        rect.right = rect.left + frame.width();
        rect.bottom = rect.top + frame.height();
    }
    // A stored position whose title bar lands on no screen (another screen's, or one a session
    // without positions made up) would leave the window out of reach: it is centred instead.
    // The frame's top above the client area is the title bar; a window not yet framed has none to
    // measure, and a usual one is taken.
    const int titleHeight = std::max(form->geometry().top() - frame.top(), 0);
    // In 64 bits and within a range no screen reaches, as any stored text may hold any numbers.
    static constexpr std::int64_t kFar = 1 << 20;
    const auto near = [](std::int64_t v) { return static_cast<int>(std::clamp<std::int64_t>(v, -kFar, kFar)); };
    const QRect stored(near(rect.left), near(rect.top), near(std::int64_t{rect.right} - rect.left),
                       near(std::int64_t{rect.bottom} - rect.top));
    if (stored.width() > 0 && !titleBarOnScreen(stored, titleHeight > 0 ? titleHeight : kTitleBarHeight)) {
        if (const QScreen *primary = QGuiApplication::primaryScreen()) {
            QRect centred = stored;
            centred.moveCenter(primary->availableGeometry().center());
            rect =
                RECT{centred.left(), centred.top(), centred.left() + centred.width(), centred.top() + centred.height()};
        }
    }
    placement.rcNormalPosition = rect;
    // Qt's windows have no centred placement that would undo an explicit position.
    if (rect.right > rect.left)
        SetWindowPlacement(form, &placement);
}

void TFormPlacement::ApplyMaxPosition()
{
    QWidget *form = m_form.data();
    if (!form)
        return;
    WINDOWPLACEMENT placement;
    GetWindowPlacement(form, &placement);
    int x = 0, y = 0;
    switch (BorderStyleOf(form)) {
    case BorderStyle::Single:
        x = GetSystemMetrics(SM_CXBORDER);
        y = GetSystemMetrics(SM_CYBORDER);
        break;
    case BorderStyle::Sizeable:
        x = GetSystemMetrics(SM_CXFRAME);
        y = GetSystemMetrics(SM_CYFRAME);
        break;
    case BorderStyle::Dialog:
        x = GetSystemMetrics(SM_CXDLGFRAME);
        y = GetSystemMetrics(SM_CYDLGFRAME);
        break;
    case BorderStyle::None: break;
    }
    placement.ptMaxPosition = POINT{-x, -y};
    if (!IsWindowVisible(form))
        placement.showCmd = SW_HIDE;
    SetWindowPlacement(form, &placement);
}

void TFormPlacement::Save()
{
    SaveAs(false);
}

void TFormPlacement::SaveNow()
{
    // Saved now, but the end-of-program save still runs (the window may move meanwhile); a failed
    // save counts for nothing either way.
    const QScopedValueRollback keep(m_saved);
    SaveAs(false);
}

void TFormPlacement::SaveAs(bool destroying)
{
    if (!m_restored)
        return;
    const std::string section = SectionName();
    auto key = OpenStore();
    key->WriteInteger(section, "FormVersion", m_version);
    SavePosition(*key, destroying);
    SaveStoredProperties(*key);
    // Closing the last open key writes the registry file; a failure there loses the save, so the
    // store counts as saved only after it.
    if (key->Close() != ERROR_SUCCESS)
        raiseWriteFailed(fw::ToAnsi(RegistryFile()));
    m_saved = true;
}

void TFormPlacement::SavePosition(const TStoreKey &key, bool destroying)
{
    const std::string section = SectionName();
    WINDOWPLACEMENT placement;
    if (QWidget *form = m_form.data())
        GetWindowPlacement(form, &placement);
    key.WriteInteger(section, "Flags", static_cast<int>(placement.flags));
    key.WriteInteger(section, "ShowCmd", static_cast<int>(placement.showCmd));
    key.WriteInteger(section, "PixelsPerInch", ScreenPixelsPerInch());
    // Where the compositor hides the position, what the window reports is made up: the stored
    // position stays as it was, for a session that knows where its windows are.
    if (positionHidden()) {
        key.WriteString(section, "Visible", destroying ? "1" : "0");
        return;
    }
    const std::string suffix = screenSizeSuffix();
    const std::string minMax = fourNumbers(placement.ptMinPosition.x, placement.ptMinPosition.y,
                                           placement.ptMaxPosition.x, placement.ptMaxPosition.y);
    key.WriteString(section, "MinMaxPos" + suffix, minMax);
    key.WriteString(section, "MinMaxPos", minMax);
    const RECT &r = placement.rcNormalPosition;
    const std::string normal = fourNumbers(r.left, r.top, r.right, r.bottom);
    key.WriteString(section, "NormPos" + suffix, normal);
    key.WriteString(section, "NormPos", normal);
    key.WriteString(section, "Visible", destroying ? "1" : "0");
}

void TFormPlacement::FormDestroy()
{
    if (!m_active || !m_restored || m_saved)
        return;
    fw::CallFromSignal(this, [this] { SaveAs(true); });
}

bool TFormPlacement::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_form.data() || !m_active)
        return false;
    switch (event->type()) {
    case QEvent::Show:
        // The window system's own show (a restore from the taskbar) is no showing of the form.
        if (!event->spontaneous())
            fw::CallFromSignal(this, [this] { Restore(); });
        return false;
    case QEvent::Close: {
        if (m_inClose)
            return false;
        // The form decides first whether it may close; only a close that happens is saved.
        {
            const QScopedValueRollback inClose(m_inClose, true);
            static_cast<QObject *>(m_form.data())->event(event);
        }
        if (event->isAccepted())
            fw::CallFromSignal(this, [this] { Save(); });
        return true;
    }
    default: return false;
    }
}

// ---- TFormStorage ------------------------------------------------------------------------------

TFormStorage::TFormStorage(QWidget *owner) : TFormPlacement(owner) {}

void TFormStorage::SetStoredProps(const fw::TStringList &entries)
{
    m_storedProps.Assign(entries);
    m_bound = false;
}

void TFormStorage::SetStoredProps(const std::vector<std::string> &entries)
{
    fw::TStringList list;
    for (const auto &entry : entries)
        list.Add(entry);
    SetStoredProps(list);
}

void TFormStorage::Loaded()
{
    TFormPlacement::Loaded();
    Bind();
}

void TFormStorage::Bind()
{
    m_bindings.clear();
    fw::TStringList kept;
    // One pass over the form's components for all the entries.
    const fw::TComponentIndex components(Form());
    // Controls of one kind share their properties: each name is looked for once per kind.
    std::map<std::pair<const QMetaObject *, std::string>, int> propertyIndex;
    for (const auto &entry : m_storedProps) {
        const auto dot = entry.find('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == entry.size())
            continue;
        const std::string componentName = entry.substr(0, dot);
        const std::string propertyName = entry.substr(dot + 1);
        QObject *component = components.Find(componentName);
        if (!component)
            continue;
        const QMetaObject *meta = component->metaObject();
        const auto [known, isNew] = propertyIndex.try_emplace({meta, propertyName}, -1);
        if (isNew) {
            for (int i = 0; i < meta->propertyCount(); ++i) {
                if (SameText(meta->property(i).name(), propertyName)) {
                    known->second = i;
                    break;
                }
            }
        }
        const int index = known->second;
        if (index < 0)
            continue;
        const QMetaProperty property = meta->property(index);
        if (!property.isReadable() || !property.isWritable())
            continue;
        Kind kind;
        if (property.isEnumType() && !property.isFlagType()) {
            kind = Kind::Enumeration;
        } else {
            switch (property.metaType().id()) {
            case QMetaType::Bool: kind = Kind::Boolean; break;
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Long:
            case QMetaType::ULong:
            case QMetaType::LongLong:
            case QMetaType::ULongLong:
            case QMetaType::Short:
            case QMetaType::UShort:
            case QMetaType::SChar:
            case QMetaType::UChar: kind = Kind::Integer; break;
            case QMetaType::Double:
            case QMetaType::Float: kind = Kind::Float; break;
            case QMetaType::QString:
            case QMetaType::QByteArray: kind = Kind::Text; break;
            default: continue;  // a property with no text form
            }
        }
        // The value name keeps the letter case of the names the form gave them.
        const std::string valueName = fw::ToAnsi(component->objectName()) + "_" + property.name();
        m_bindings.push_back(Binding{component, property, kind, valueName});
        kept.Add(entry);
    }
    m_storedProps.Assign(kept);
    m_bound = true;
}

std::string TFormStorage::PropertyText(const Binding &binding)
{
    const QVariant value = binding.property.read(binding.component.data());
    switch (binding.kind) {
    case Kind::Integer: return std::to_string(value.toLongLong());
    case Kind::Boolean: return value.toBool() ? "True" : "False";
    case Kind::Enumeration: {
        const QMetaEnum enumerator = binding.property.enumerator();
        const char *key = enumerator.valueToKey(value.toInt());
        return key ? std::string(key) : std::to_string(value.toInt());
    }
    case Kind::Float: return FloatToText(value.toDouble());
    case Kind::Text: return fw::ToAnsi(value.toString());
    }
    return {};
}

void TFormStorage::SetPropertyText(const Binding &binding, const std::string &text)
{
    QObject *component = binding.component.data();
    QVariant value;
    switch (binding.kind) {
    case Kind::Integer: {
        int number = 0;
        if (!TryStrToInt(text, number))
            number = 0;  // a text that is not an integer reads as 0
        value = number;
        break;
    }
    case Kind::Boolean:
        if (SameText(text, "True"))
            value = true;
        else if (SameText(text, "False"))
            value = false;
        else
            return;
        break;
    case Kind::Enumeration: {
        const QMetaEnum enumerator = binding.property.enumerator();
        for (int i = 0; i < enumerator.keyCount(); ++i) {
            if (SameText(enumerator.key(i), text)) {
                value = enumerator.value(i);
                break;
            }
        }
        if (!value.isValid())
            return;
        break;
    }
    case Kind::Float: {
        double number = 0;
        if (!TryTextToFloat(text, number))
            return;
        value = number;
        break;
    }
    case Kind::Text: value = fw::FromAnsi(text); break;
    }
    binding.property.write(component, value);
}

void TFormStorage::RestoreStoredProperties(const TStoreKey &key)
{
    if (!m_bound)
        Bind();
    const std::string section = SectionName();
    for (const auto &binding : m_bindings) {
        if (!binding.component)
            continue;
        try {
            const std::string current = PropertyText(binding);
            SetPropertyText(binding, TrimText(key.ReadString(section, binding.valueName, current)));
        } catch (const fw::Exception &) {
            // This property keeps its value; the others are still restored.
        }
    }
}

void TFormStorage::SaveStoredProperties(const TStoreKey &key)
{
    if (!m_bound)
        Bind();
    const std::string section = SectionName();
    for (const auto &binding : m_bindings) {
        if (binding.component)
            key.WriteString(section, binding.valueName, TrimText(PropertyText(binding)));
    }
}

}  // namespace settings
