#include "shell/UpdateState.h"

namespace shell {

void UpdateState::SetPublished(const std::string &name)
{
    m_published = name;
    changed();
}

void UpdateState::SetLocal(const std::string &name)
{
    m_local = name;
    changed();
}

void UpdateState::SetNewMapWaits(bool waits)
{
    m_newMapWaits = waits;
    changed();
}

void UpdateState::SetNewsShown(const std::string &name)
{
    m_newsShown.insert(name);
}

void UpdateState::SetTold(const std::string &name)
{
    m_told.insert(name);
}

void UpdateState::changed() const
{
    if (OnChange)
        OnChange();
}

}  // namespace shell
