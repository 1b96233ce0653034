#pragma once
// Objects, components, events and string lists of the framework, on QObject.
//
// A component's Name is its object name and its Owner is its parent: an owner frees what it owns.
// Published properties are Q_PROPERTYs, so the settings store reaches any of them by name.
#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

using TObject = QObject;
// Events are called only when assigned, synchronously, with the sender first.
using TNotifyEvent = std::function<void(TObject *Sender)>;

template <typename Event, typename... Args> void Fire(const Event &event, Args &&...args)
{
    if (event)
        event(std::forward<Args>(args)...);
}

// The object named `name` among everything `owner` owns, directly or through its children,
// without regard to letter case; nullptr when there is none.
QObject *FindComponent(const QObject *owner, std::string_view name);

// The same look-up for many names at once: what `owner` owns is read once, when the index is
// built, and each Find answers as FindComponent would have at that moment.
class TComponentIndex {
public:
    explicit TComponentIndex(const QObject *owner);
    QObject *Find(std::string_view name) const;

private:
    QHash<QString, QObject *> m_byName;  // case-folded name -> the first such object
};

class TComponent : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ objectName WRITE setObjectName)
public:
    explicit TComponent(QObject *owner = nullptr);

    QObject *Owner() const { return parent(); }
    std::string Name() const { return objectName().toStdString(); }
    void SetName(std::string_view name)
    {
        setObjectName(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }
    QObject *FindComponent(std::string_view name) const { return fw::FindComponent(this, name); }
};

// An ordered list of single-byte texts.
class TStringList {
public:
    TStringList() = default;

    int Count() const { return static_cast<int>(m_items.size()); }
    bool Empty() const { return m_items.empty(); }
    const std::string &operator[](int index) const { return m_items.at(static_cast<size_t>(index)); }
    std::string &operator[](int index) { return m_items.at(static_cast<size_t>(index)); }
    const std::string &Last() const { return m_items.back(); }

    int Add(std::string text);
    void Clear() { m_items.clear(); }
    void Delete(int index);
    // Position of the first text equal to `text` without regard to letter case, or -1.
    int IndexOf(std::string_view text) const;
    // Sorts with the user locale's comparison, without regard to letter case; stable.
    void Sort();
    void Assign(const TStringList &other) { m_items = other.m_items; }

    // The texts joined, each followed by CR LF.
    std::string Text() const;

    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }
    const std::vector<std::string> &Items() const { return m_items; }

private:
    std::vector<std::string> m_items;
};

// The user locale's letter-case-blind comparison of two single-byte texts: <0, 0 or >0.
int AnsiCompareText(std::string_view a, std::string_view b);

}  // namespace fw
