#include "common/LogFile.h"

#include "common/FileSystem.h"
#include "common/LogPlace.h"

namespace {

// Each missing level in turn; a level that exists or cannot be made is
// left to the open that follows to judge.
void MakeDirs(const std::string& folder)
{
    for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
        fsys::MakeDir(folder.substr(0, slash));
    fsys::MakeDir(folder);
}

}  // namespace

bool CLogFile::Open(const std::string& folder, const std::string& name, int64_t rotateBytes)
{
    Close();
    m_folder = folder;
    m_name = name;
    m_nLimit = rotateBytes;
    if (folder.empty())
        return false;
    MakeDirs(folder);
    return Reopen();
}

void CLogFile::Close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

std::string CLogFile::PathOf(int generation) const
{
    return m_folder + "/" + m_name + (generation ? "." + std::to_string(generation) : std::string()) + ".log";
}

bool CLogFile::Reopen()
{
    m_file = OpenAppend(PathOf(0));
    m_nSize = m_file ? fsys::Stat(PathOf(0)).size : 0;
    return m_file != nullptr;
}

void CLogFile::Rotate()
{
    Close();
    fsys::Remove(PathOf(kKeep));
    for (int generation = kKeep - 1; generation >= 0; --generation)
        fsys::Replace(PathOf(generation), PathOf(generation + 1));
    Reopen();
}

void CLogFile::Append(std::string_view line)
{
    if (m_file && m_nSize > 0 && m_nSize + static_cast<int64_t>(line.size()) > m_nLimit)
        Rotate();
    if (!m_file)
        return;
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
    m_nSize += static_cast<int64_t>(line.size());
}
