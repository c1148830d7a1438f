// Runs a piece of a test in a forked child (to change what only a process of
// its own may change: its user, its namespaces) and brings back the text it
// produced and how it ended.
#pragma once

#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace kx5::test {

struct ForkedResult {
    bool exited = false; // ended by _exit, not by a signal
    int code = -1;       // its exit code
    std::string text;    // what body returned
};

// body runs in the child; returning sets the text and exit code 0, and an
// exit code of its own may be given through code.
inline ForkedResult runForked(const std::function<std::string(int& code)>& body) {
    ForkedResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return result;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        int code = 0;
        const std::string text = body(code);
        const bool sent = write(pipeFds[1], text.data(), text.size()) == ssize_t(text.size());
        _exit(sent ? code : 125);
    }
    close(pipeFds[1]);
    char buf[4096];
    for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;)
        result.text.append(buf, size_t(n));
    close(pipeFds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return result;
    result.exited = WIFEXITED(status);
    result.code = result.exited ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace kx5::test
