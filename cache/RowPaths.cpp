#include "cache/RowPaths.h"

#include "common/FileSystem.h"

void CRowPaths::Clear(size_t rows)
{
    m_owners.clear();
    m_followers.clear();
    m_leader.assign(rows, kNone);
    m_refused.assign(rows, false);
}

size_t CRowPaths::OwnerOf(const std::string& path) const
{
    auto it = m_owners.find(fsys::FileKey(path));
    return it == m_owners.end() ? kNone : it->second;
}

void CRowPaths::Take(size_t row, const std::string& path)
{
    if (row >= m_leader.size())
        return;
    auto [it, fresh] = m_owners.emplace(fsys::FileKey(path), row);
    if (fresh || it->second == row)
        return;
    m_leader[row] = it->second;
    m_followers[it->second].push_back(row);
}

void CRowPaths::Refuse(size_t row)
{
    if (row < m_refused.size())
        m_refused[row] = true;
}

const std::vector<size_t>& CRowPaths::FollowersOf(size_t owner) const
{
    static const std::vector<size_t> kNoFollowers;
    auto it = m_followers.find(owner);
    return it == m_followers.end() ? kNoFollowers : it->second;
}
