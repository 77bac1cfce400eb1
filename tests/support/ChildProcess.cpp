#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/Timeout.h"

extern char** environ;

namespace ZephTest {

namespace {

void CloseIfOpen(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, Stdin in, Stdout out)
{
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1};
    if ((in == Stdin::Pipe && pipe2(inPipe, O_CLOEXEC) != 0) || (out == Stdout::Pipe && pipe2(outPipe, O_CLOEXEC) != 0))
        throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in == Stdin::Pipe)
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
    if (in == Stdin::Closed)
        posix_spawn_file_actions_addclose(&actions, 0);
    if (out == Stdout::Pipe)
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int error = posix_spawn(&m_pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseIfOpen(inPipe[0]);
    CloseIfOpen(outPipe[1]);
    m_stdin = inPipe[1];
    m_stdout = outPipe[0];
    if (error != 0) {
        m_pid = -1;
        CloseIfOpen(m_stdin);
        CloseIfOpen(m_stdout);
        throw std::runtime_error("posix_spawn " + argv[0] + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess()
{
    CloseIfOpen(m_stdin);
    CloseIfOpen(m_stdout);
    if (m_pid > 0 && kill(m_pid, SIGKILL) == 0)
        waitpid(m_pid, nullptr, 0);
}

bool ChildProcess::WriteStdin(const std::string& data)
{
    // A child that has gone must not end the test with SIGPIPE: block it on this thread and
    // take back a signal that became pending.
    sigset_t pipeSignal, saved;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &saved);
    size_t done = 0;
    for (ssize_t n = 1; m_stdin >= 0 && done < data.size() && (n > 0 || errno == EINTR);)
        if ((n = write(m_stdin, data.data() + done, data.size() - done)) > 0)
            done += static_cast<size_t>(n);
    const timespec zero = {0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return m_stdin >= 0 && done == data.size();
}

void ChildProcess::CloseStdin()
{
    CloseIfOpen(m_stdin);
}

bool ChildProcess::ReadStdout(std::string& out, std::chrono::milliseconds timeout, size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const size_t until = count == SIZE_MAX ? SIZE_MAX : out.size() + count;
    char buffer[4096];
    while (m_stdout >= 0 && out.size() < until) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p = {m_stdout, POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
        const ssize_t n = ready > 0 ? read(m_stdout, buffer, std::min(sizeof buffer, until - out.size())) : -1;
        if (ready == 0 || (ready < 0 && errno != EINTR))
            return false;
        if (n > 0)
            out.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            CloseIfOpen(m_stdout);
    }
    return true;
}

bool ChildProcess::Wait(std::chrono::milliseconds timeout, int* exitCode)
{
    int status = 0;
    const bool ended = m_pid > 0 && EventuallyTrue(
                                        [&] {
                                            const pid_t r = waitpid(m_pid, &status, WNOHANG);
                                            return r == m_pid || (r < 0 && errno != EINTR);
                                        },
                                        timeout);
    if (!ended && m_pid > 0 && kill(m_pid, SIGKILL) == 0)
        waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    if (ended && exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ended;
}

}  // namespace ZephTest
