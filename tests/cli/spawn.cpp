#include "spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>

extern char** environ;

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : extra) {
            replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!replaced) env.push_back(entry);
    }
    for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
    return env;
}

}  // namespace

std::vector<std::string> splitCommand(const std::string& prefix) {
    std::vector<std::string> words;
    std::istringstream in(prefix);
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

SpawnResult spawn(const SpawnRequest& request) {
    SpawnResult result;
    if (request.command.empty()) {
        result.failure = "no command";
        return result;
    }

    std::vector<std::string> argv;
    if (!request.emptyArgv) {
        argv = request.command;
        if (request.startName) argv[0] = *request.startName;
        argv.insert(argv.end(), request.arguments.begin(), request.arguments.end());
    }
    std::vector<std::string> env = environmentWith(request.environment);
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(env);

    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        result.failure = std::strerror(errno);
        return result;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        result.failure = std::strerror(errno);
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    switch (request.stdoutTo) {
    case SpawnRequest::Output::Captured:
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        break;
    case SpawnRequest::Output::FullDevice:
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
        break;
    case SpawnRequest::Output::Closed:
        posix_spawn_file_actions_addclose(&actions, 1);
        break;
    }
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    if (!request.workingDirectory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, request.workingDirectory.c_str());
    }

    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, request.command[0].c_str(), &actions, nullptr, argvPointers.data(),
                                       envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (spawned != 0) {
        result.failure = std::string("cannot start ") + request.command[0] + ": " + std::strerror(spawned);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }

    // Read both pipes as data arrives, so that neither can fill and stall
    // the child.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(request.timeoutSeconds);
    bool timedOut = false;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        const int ready = ::poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (const pollfd& fd : fds) {
        if (fd.fd >= 0) ::close(fd.fd);
    }
    if (timedOut) {
        ::kill(pid, SIGKILL);
        result.failure = "timed out";
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exited = !timedOut;
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status) && result.failure.empty()) {
        result.failure = std::string("killed by signal ") + std::to_string(WTERMSIG(status));
    }
    return result;
}
