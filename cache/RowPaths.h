// CRowPaths: which row of a resource list owns each cache path. Two rows
// may name one file (one resource listed twice; "…/day1/intro.mp4" and
// "…/day2/intro.mp4" of one module; "Intro.mp4" and "intro.mp4" where the
// system folds case); one file can hold only one of them.
// The first row, in row order, that takes a path owns it; a later row of
// the same URL follows it (it waits while the owner downloads and is
// cached with it); a later row of another URL is refused.
//
// Built by the caching job's check and read under its progress lock.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class CRowPaths {
public:
    static constexpr size_t kNone = static_cast<size_t>(-1);

    void Clear(size_t rows);
    // The row that owns `path`, or kNone while it is free.
    size_t OwnerOf(const std::string& path) const;
    // `row` takes `path`: it owns it when free, else follows its owner.
    void Take(size_t row, const std::string& path);
    // `row` may not have its path (another URL owns it).
    void Refuse(size_t row);

    bool IsRefused(size_t row) const { return row < m_refused.size() && m_refused[row]; }
    // The owner a following row waits for, or kNone.
    size_t LeaderOf(size_t row) const { return row < m_leader.size() ? m_leader[row] : kNone; }
    const std::vector<size_t>& FollowersOf(size_t owner) const;

private:
    std::unordered_map<std::string, size_t> m_owners;          // file key of a path → owning row
    std::unordered_map<size_t, std::vector<size_t>> m_followers;  // owning row → later rows of its URL
    std::vector<size_t> m_leader;  // by row: the owner it follows, or kNone
    std::vector<bool> m_refused;   // by row
};
