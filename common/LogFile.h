// A log file that stays small: lines are appended to <folder>/<name>.log,
// which becomes <name>.1.log once the next line would take it past its
// size (the older ones move on to .2 … .kKeep; the oldest is dropped).
// Lines reach the system's file cache, never waiting for the disk; only
// the rare rotation renames files. Not thread-safe: its owner guards it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

class CLogFile {
public:
    static constexpr int kKeep = 3;

    CLogFile() = default;
    ~CLogFile() { Close(); }
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Makes the folder (and the levels above it) when missing. False when
    // the file cannot be opened: lines are dropped until the next Open.
    bool Open(const std::string& folder, const std::string& name, int64_t rotateBytes);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }
    // `line` is one whole line, its '\n' included.
    void Append(std::string_view line);

private:
    // The file of a generation: 0 is the current one.
    std::string PathOf(int generation) const;
    bool Reopen();
    void Rotate();

    std::string m_folder, m_name;
    int64_t m_nLimit = 0;
    int64_t m_nSize = 0;
    FILE* m_file = nullptr;
};
