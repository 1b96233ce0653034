#include "framework/Classes.h"

#include "framework/Ansi.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>

namespace fw {

QObject *FindComponent(const QObject *owner, std::string_view name)
{
    if (!owner || name.empty())
        return nullptr;
    const QString wanted = QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    const auto children = owner->findChildren<QObject *>();
    for (QObject *child : children) {
        if (child->objectName().compare(wanted, Qt::CaseInsensitive) == 0)
            return child;
    }
    return nullptr;
}

TComponentIndex::TComponentIndex(const QObject *owner)
{
    if (!owner)
        return;
    // In the order FindComponent searches: the first object of a name is the one it finds.
    const auto children = owner->findChildren<QObject *>();
    for (QObject *child : children) {
        const QString name = child->objectName();
        if (name.isEmpty())
            continue;
        const QString key = name.toCaseFolded();
        if (!m_byName.contains(key))
            m_byName.insert(key, child);
    }
}

QObject *TComponentIndex::Find(std::string_view name) const
{
    if (name.empty())
        return nullptr;
    return m_byName.value(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded());
}

TComponent::TComponent(QObject *owner) : QObject(owner) {}

int TStringList::Add(std::string text)
{
    m_items.push_back(std::move(text));
    return Count() - 1;
}

void TStringList::Delete(int index)
{
    m_items.erase(m_items.begin() + index);
}

int TStringList::IndexOf(std::string_view text) const
{
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (AnsiCompareText(m_items[i], text) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

namespace {
QCollator userCollator()
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    return collator;
}
}  // namespace

int AnsiCompareText(std::string_view a, std::string_view b)
{
    return userCollator().compare(FromAnsi(a), FromAnsi(b));
}

void TStringList::Sort()
{
    const QCollator collator = userCollator();
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(m_items.size());
    for (auto &item : m_items)
        keyed.emplace_back(FromAnsi(item), std::move(item));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&collator](const auto &x, const auto &y) { return collator.compare(x.first, y.first) < 0; });
    for (size_t i = 0; i < keyed.size(); ++i)
        m_items[i] = std::move(keyed[i].second);
}

std::string TStringList::Text() const
{
    std::string out;
    for (const auto &item : m_items) {
        out += item;
        out += "\r\n";
    }
    return out;
}

}  // namespace fw
