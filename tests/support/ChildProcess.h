// A program a test started. It is stopped (SIGKILL) and reaped when the
// object goes, so a test that fails early leaves no process behind, and
// no test ever signals a process it did not start. POSIX only.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
public:
    // Starts argv[0] with `argv`, its standard output into `output` (when
    // given); Pid() is -1 when it could not start.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& output = "");
    // Takes over a child the code under test started.
    explicit ChildProcess(pid_t pid) : m_pid(pid) {}
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) const;
    // Its exit status (128 + the signal that ended it), -1 when it still
    // runs after `limit`, or kLost when it is no child of this process.
    static constexpr int kLost = -2;
    int Wait(std::chrono::milliseconds limit = std::chrono::minutes(2));

private:
    pid_t m_pid = -1;
    int m_status = -1;     // once ended
    bool m_ended = false;  // reaped (or found reaped elsewhere): never signalled again
};
