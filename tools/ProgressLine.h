// The progress line of one download, as qv-download shows it: bytes done
// and the size (KiB under 1 MiB, else MiB), the percentage, the rate of
// this run over the last seconds, and the time left at that rate. Bytes a
// download found on disk when it started are not part of the rate, and a
// stall shows 0 within the window, not a slowly decaying figure.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

class ProgressLine {
public:
    static constexpr double kWindowSeconds = 5;

    // Once a second, with the engine's counts.
    void Sample(int64_t downloaded, int64_t size, double nowSeconds);
    // After a restart, the counts start again from what is on disk.
    void Restart() { m_samples.clear(); }
    double Rate() const;  // bytes a second
    std::string Text() const;

private:
    struct Point {
        double seconds;
        int64_t bytes;
    };
    std::deque<Point> m_samples;  // the window, oldest first; only while the size is known
    int64_t m_nDone = 0;
    int64_t m_nSize = 0;
};

// "512.0 KiB" under 1 MiB, else "3.4 MiB".
std::string SizeText(int64_t bytes);
