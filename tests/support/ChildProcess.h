#pragma once
// Child processes for tests whose peer must be another process.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace ZephTest {

// A program started with posix_spawn, which is safe in a threaded test process. In the
// child, descriptors above 2 are closed (so it never holds one end of a test's FIFO) and the
// signal mask and dispositions are back to default. Its stdin and stdout can be pipes held
// here. A child still running when the object dies is killed and reaped.
class ChildProcess {
public:
    enum class Stdin { Inherit, Pipe, Closed };
    enum class Stdout { Inherit, Pipe };

    explicit ChildProcess(const std::vector<std::string>& argv, Stdin in = Stdin::Inherit,
                          Stdout out = Stdout::Inherit);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    // Writes all of `data` to the child's stdin; false when it cannot (the child has gone).
    bool WriteStdin(const std::string& data);
    void CloseStdin();
    // Reads the child's stdout until end of file, or until `out` has grown by `count` bytes;
    // false when that takes longer than `timeout`.
    bool ReadStdout(std::string& out, std::chrono::milliseconds timeout, size_t count = SIZE_MAX);
    // Waits for the child's end; false, after killing it, when it runs longer than `timeout`.
    // `exitCode` receives the exit status, or 128 + the signal that ended it.
    bool Wait(std::chrono::milliseconds timeout, int* exitCode = nullptr);

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

}  // namespace ZephTest
