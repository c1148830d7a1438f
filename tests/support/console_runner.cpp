#include "tests/support/console_runner.h"

#include <picojson.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kx5::test {

ConsoleRun runConsole(const std::string& executable, const std::vector<std::string>& input,
                      const std::map<std::string, std::string>& env,
                      const std::vector<std::string>& extraArgs) {
    int toChild[2], fromChild[2];
    ConsoleRun run;
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], 0);
        dup2(fromChild[1], 1);
        close(toChild[1]);
        close(fromChild[0]);
        for (const auto& [k, v] : env) {
            if (v.empty())
                unsetenv(k.c_str());
            else
                setenv(k.c_str(), v.c_str(), 1);
        }
        std::vector<std::string> args{executable, "--console"};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(executable.c_str(), argv.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    std::string all;
    for (const auto& l : input)
        all += l + "\n";
    // Input is small; write it all, then close so the console sees the end.
    for (size_t off = 0; off < all.size();) {
        const ssize_t n = write(toChild[1], all.data() + off, all.size() - off);
        if (n <= 0) break;
        off += size_t(n);
    }
    close(toChild[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fromChild[0], buf, sizeof buf)) > 0;)
        out.append(buf, size_t(n));
    close(fromChild[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        run.lines.push_back(out.substr(start, nl - start));
    return run;
}

std::vector<std::string> valuesOf(const ConsoleRun& run, const std::string& key) {
    std::vector<std::string> values;
    for (const auto& line : run.lines) {
        picojson::value v;
        if (!picojson::parse(v, line).empty() || !v.is<picojson::object>()) continue;
        const auto& o = v.get<picojson::object>();
        auto it = o.find(key);
        if (it != o.end() && it->second.is<std::string>())
            values.push_back(it->second.get<std::string>());
    }
    return values;
}

} // namespace kx5::test
