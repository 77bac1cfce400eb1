// helper_process: a program that starts a helper process and talks to it in frames over the
// helper's standard input and output.
//
// The parent makes two pipes, starts this program again in helper mode with posix_spawn (the
// pipes become the helper's standard input and output) and runs a channel with a worker over
// its own ends. The helper runs a channel without a worker over the standard-stream adapters
// and answers each request with its text in capitals. The parent waits for each answer in a
// poll loop on a DataAvailableDescriptor, as a program with an event loop of its own would,
// and shuts down cleanly however the helper ends (--helper):
//   normal  answers every request; an empty frame then tells it to finish.
//   hangs   stops answering at the last request. At the deadline the parent releases the
//           channel, whose cancellable input ends the worker's blocked read at once, and
//           stops the helper.
//   dies    dies at the last request. The descriptor reports the end of the worker (the
//           pipe met end of file) at once, without waiting for the deadline.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <glog/logging.h>

#include "IO/ZephIO.h"
#include "common/Process.h"

extern char** environ;

using namespace Korvel::Core;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const char kUsage[] =
    "usage: helper_process [options]\n"
    "  --helper normal|hangs|dies  how the helper behaves at the last request (default normal)\n"
    "  --requests N                requests to send, 1 to 1000 (default 3)\n"
    "  --deadline MS               how long to wait for each answer, 1 to 60000 (default 1000)\n"
    "  -h, --help                  show this text\n"
    "Exit codes: 0 every request answered and the helper ended normally; 1 an error (the\n"
    "helper could not be started, gave a wrong answer or failed at the end); 2 bad usage;\n"
    "3 the helper stopped answering and was stopped; 4 the helper died.\n";

enum ExitCode { kAnswered = 0, kError = 1, kBadUsage = 2, kHelperHung = 3, kHelperDied = 4 };

// The helper refuses a longer request (the length may come from a confused parent).
constexpr unsigned long long kMaxRequest = 1 << 20;

struct Options {
    std::string helper = "normal";
    unsigned long long requests = 3;
    unsigned long long deadlineMs = 1000;
};

int Error(int code, const std::string& message)
{
    std::cerr << "helper_process: error: " << message << std::endl;
    return code;
}

std::string ToUpper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::string DescribeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "wait status " + std::to_string(status);
}

// ---- The helper ------------------------------------------------------------------------------

// Answers requests on standard input until an empty frame (or end of input) comes, and
// answers that with an empty frame.
int RunHelper(const std::string& behaviour, unsigned long long lastRequest)
{
    unsigned long transferSize = 0;
    auto input = DataStdInput::Create(transferSize);
    auto output = DataStdOutput::Create(transferSize);
    if (!input || !output) {
        std::cerr << "helper_process (helper): error: standard input or output is closed" << std::endl;
        return kError;
    }
    // Without a worker: this process has nothing else to do than wait for the next request.
    auto channel = CommunicationChannel::Create(input, output, false, kMaxRequest);
    for (unsigned long long number = 1;; ++number) {
        const unsigned long long size = channel->ReadHeader();
        if (size == 0) {
            channel->Write(nullptr, 0);  // the parent's worker ends on it, with no end of file to meet
            return kAnswered;
        }
        std::string request(size, '\0');
        if (channel->Read(reinterpret_cast<unsigned char*>(&request[0]), size) != size) {
            std::cerr << "helper_process (helper): error: request " << number << " was cut short" << std::endl;
            return kError;
        }
        if (number == lastRequest && behaviour == "hangs")
            for (;;)
                pause();
        if (number == lastRequest && behaviour == "dies")
            raise(SIGKILL);
        const std::string answer = ToUpper(request);
        // A parent that has gone ends this process here: SIGPIPE is at its default.
        channel->Write(reinterpret_cast<const unsigned char*>(answer.data()), answer.size());
    }
}

// ---- The parent ------------------------------------------------------------------------------

// Starts this program in helper mode with its standard input and output on two new pipes.
// Returns the helper's process id and this side's ends of the pipes, or -1 (error printed).
pid_t StartHelper(const Options& options, int& toHelper, int& fromHelper)
{
    // Close-on-exec from the start: no other child of this process may inherit these ends,
    // or the helper would not see end of file when this process goes.
    int request[2], answer[2];  // [0] reads, [1] writes
    if (pipe2(request, O_CLOEXEC) != 0 || pipe2(answer, O_CLOEXEC) != 0) {
        Error(kError, std::string("cannot make the pipes: ") + std::strerror(errno));
        return -1;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, request[0], STDIN_FILENO);  // dup2 clears close-on-exec
    posix_spawn_file_actions_adddup2(&files, answer[1], STDOUT_FILENO);
    // The helper gets SIGPIPE at its default whatever this process's caller set, so that it
    // ends when it writes to a parent that has gone.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> args = {"helper_process", "--as-helper", options.helper, std::to_string(options.requests)};
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, "/proc/self/exe", &files, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    close(request[0]);  // the helper's ends: a copy kept here would hide its end of file
    close(answer[1]);
    if (error != 0) {
        close(request[1]);
        close(answer[0]);
        Error(kError, std::string("cannot start the helper: ") + std::strerror(error));
        return -1;
    }
    toHelper = request[1];
    fromHelper = answer[0];
    return pid;
}

// Waits, as an event loop would, until the channel has news or `deadline` passes: a frame,
// the worker's end, or Kind::Nothing at the deadline.
DataAvailableDescriptor::Event WaitForChannel(DataAvailableDescriptor& events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
        pollfd watched{events.Descriptor(), POLLIN, 0};
        const int ready = poll(&watched, 1, static_cast<int>(std::max<long long>(left, 0)));
        if (ready == 0)
            return {DataAvailableDescriptor::Kind::Nothing, 0};
        if (ready < 0)
            continue;  // EINTR
        const auto event = events.Drain();
        if (event.kind != DataAvailableDescriptor::Kind::Nothing)
            return event;
    }
}

// Waits up to `grace` for the helper to end, then kills it; returns its wait status.
int Reap(pid_t helper, milliseconds grace)
{
    const auto until = Clock::now() + grace;
    int status = 0;
    while (waitpid(helper, &status, WNOHANG) == 0) {
        if (Clock::now() >= until) {
            kill(helper, SIGKILL);
            waitpid(helper, &status, 0);
            break;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return status;
}

int RunParent(const Options& options)
{
    // No SIGPIPE set-up: pipes made with options never raise it, so a write to a helper that
    // has died fails (EPIPE) instead of ending this process.
    int toHelper = -1, fromHelper = -1;
    const pid_t helper = StartHelper(options, toHelper, fromHelper);
    if (helper < 0)
        return kError;
    const milliseconds deadline(options.deadlineMs);

    // Cancellable input: releasing the channel ends its worker's read at once, even while the
    // helper is silent. A wait limit on the output: a write to a helper that stopped reading
    // gives up instead of blocking for good. Close-on-exec: pipe2 has already set it here; the
    // option does the same for a FIFO opened by name.
    PipeOptions inputOptions;
    inputOptions.cancellable = true;
    inputOptions.closeOnExec = true;
    PipeOptions outputOptions = inputOptions;
    outputOptions.waitLimit = deadline;
    DataAvailableDescriptor events;  // declared first: it must outlive the channel
    // The channel holds the only references to the pipes: releasing it closes them. The handler
    // is given at creation, so that it hears of every frame from the first.
    ChannelOptions channelOptions;
    channelOptions.handler = &events;
    channelOptions.maxFrameLength = kMaxRequest;
    auto channel = CommunicationChannel::Create(
        DataInputPipe::Create(PipeHandleFromDescriptor(fromHelper), std::make_unique<ByteDataInputDefaultProtocol>(),
                              inputOptions),
        DataOutputPipe::Create(PipeHandleFromDescriptor(toHelper), std::make_unique<ByteDataOutputDefaultProtocol>(),
                               outputOptions),
        channelOptions);

    for (unsigned long long number = 1; number <= options.requests; ++number) {
        // One deadline covers the request (whose write gives up at the wait limit) and its answer.
        const auto until = Clock::now() + deadline;
        const std::string request = "request " + std::to_string(number) + " from the parent";
        channel->Write(reinterpret_cast<const unsigned char*>(request.data()), request.size());
        const auto event = WaitForChannel(events, until);
        if (event.kind == DataAvailableDescriptor::Kind::Frame) {
            std::string answer(event.size, '\0');
            channel->Read(reinterpret_cast<unsigned char*>(&answer[0]), answer.size());
            if (answer != ToUpper(request)) {
                channel.reset();
                Reap(helper, milliseconds(0));
                return Error(kError, "wrong answer to request " + std::to_string(number) + ": '" + answer + "'");
            }
            std::cout << "answer " << number << ": " << answer << "\n";
            continue;
        }
        if (event.kind == DataAvailableDescriptor::Kind::Ended) {
            // The helper closed its standard output, normally by ending: nothing to cancel.
            channel.reset();
            const int status = Reap(helper, deadline);
            return Error(kHelperDied, "the helper ended before answering request " + std::to_string(number) + " (" +
                                          DescribeWaitStatus(status) + ")");
        }
        // The deadline passed. Releasing the channel cancels its input, which ends the worker's
        // read at once; then the helper is stopped.
        const auto wallClock = std::chrono::system_clock::now().time_since_epoch();
        channel.reset();
        Reap(helper, milliseconds(0));
        return Error(kHelperHung, "no answer to request " + std::to_string(number) + " within " +
                                      std::to_string(options.deadlineMs) + " ms; the helper was stopped (deadline at " +
                                      std::to_string(std::chrono::duration_cast<milliseconds>(wallClock).count()) +
                                      " ms since the epoch)");
    }
    // The normal end: an empty frame ends the helper's loop, and the helper's empty frame back
    // ends our worker.
    channel->Write(nullptr, 0);
    const auto last = WaitForChannel(events, Clock::now() + deadline);
    // A helper that said goodbye, not one whose output merely ended.
    const bool ended = last.kind == DataAvailableDescriptor::Kind::Ended && last.end == WorkerEnd::EndFrame;
    channel.reset();
    const int status = Reap(helper, deadline);
    if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return Error(kError, "the helper failed at the end (" + DescribeWaitStatus(status) + ")");
    std::cout << "all " << options.requests << " requests answered; the helper ended normally" << std::endl;
    return kAnswered;
}

int Usage(const std::string& problem)
{
    std::cerr << "helper_process: " << problem << "\n" << kUsage;
    return kBadUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    FLAGS_minloglevel = google::GLOG_WARNING;  // pipes log every system call at INFO

    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        unsigned long long number = 0;
        if (args.size() == 3 && args[0] == "--as-helper" && ZephCommon::ParseNumber(args[2], number))
            return RunHelper(args[1], number);

        Options options;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& name = args[i];
            if (name == "-h" || name == "--help") {
                std::cout << kUsage;
                return kAnswered;
            }
            if (name != "--helper" && name != "--requests" && name != "--deadline")
                return Usage("unknown option '" + name + "'");
            if (i + 1 == args.size())
                return Usage("option " + name + " needs a value");
            const std::string& value = args[++i];
            if (name == "--helper" && (value == "normal" || value == "hangs" || value == "dies"))
                options.helper = value;
            else if (name == "--requests" && ZephCommon::ParseNumber(value, number) && number >= 1 && number <= 1000)
                options.requests = number;
            else if (name == "--deadline" && ZephCommon::ParseNumber(value, number) && number >= 1 && number <= 60000)
                options.deadlineMs = number;
            else
                return Usage("bad value '" + value + "' for " + name);
        }
        return RunParent(options);
    } catch (const std::exception& e) {
        // Pipes throw only when they are made; the report carries the details.
        return Error(kError, Korvel::DescribeException(e));
    }
}
