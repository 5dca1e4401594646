#include "tools/ProgressLine.h"

#include <algorithm>
#include <cstdio>

std::string SizeText(int64_t bytes)
{
    char text[32];
    if (bytes < 1048576)
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    return text;
}

void ProgressLine::Sample(int64_t downloaded, int64_t size, double nowSeconds)
{
    m_nDone = downloaded;
    m_nSize = size;
    // Before the size is known nothing was loaded from disk yet; a count
    // that went back belongs to a new attempt.
    if (size <= 0 || (!m_samples.empty() && downloaded < m_samples.back().bytes)) {
        m_samples.clear();
        if (size <= 0)
            return;
    }
    m_samples.push_back({nowSeconds, downloaded});
    while (m_samples.size() > 2 && nowSeconds - m_samples[1].seconds >= kWindowSeconds)
        m_samples.pop_front();
}

double ProgressLine::Rate() const
{
    if (m_samples.size() < 2)
        return 0;
    const Point& first = m_samples.front();
    const Point& last = m_samples.back();
    return last.seconds > first.seconds ? (last.bytes - first.bytes) / (last.seconds - first.seconds) : 0;
}

std::string ProgressLine::Text() const
{
    if (m_nSize <= 0)
        return "waiting for the server's answer";
    int percent = m_nSize > 0 ? static_cast<int>(std::clamp(100.0 * m_nDone / m_nSize, 0.0, 100.0)) : 0;
    double rate = Rate();
    char eta[32] = "--:--";
    if (rate > 0 && m_nSize > m_nDone) {
        long left = static_cast<long>((m_nSize - m_nDone) / rate + 0.5);
        if (left >= 3600)
            std::snprintf(eta, sizeof eta, "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
        else
            std::snprintf(eta, sizeof eta, "%ld:%02ld", left / 60, left % 60);
    }
    char text[160];
    std::snprintf(text, sizeof text, "%s / %s  %3d%%  %s/s  ETA %s", SizeText(m_nDone).c_str(),
                  SizeText(m_nSize).c_str(), percent, SizeText(static_cast<int64_t>(rate)).c_str(), eta);
    return text;
}
