// Runs voxmira-batch as a separate process for the tests of its verbs.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <sys/wait.h>

struct batch_run_result {
    int status;       // exit status, -1 when the process did not exit normally
    std::string out;  // stdout, and stderr too unless it was dropped
};

// `arguments` follow the program name, shell-quoted by the caller; `shell` runs first in
// the same shell (a limit such as "ulimit -f 0").
inline batch_run_result run_batch(const std::string& arguments, bool with_stderr = true,
                                  std::string shell = "")
{
    while (!shell.empty() && (shell.back() == ';' || shell.back() == ' ')) shell.pop_back();
    const std::string command = (shell.empty() ? "" : shell + "; ") + std::string(VOXMIRA_BATCH) + " " +
                                arguments + (with_stderr ? " 2>&1" : " 2>/dev/null");
    batch_run_result r{-1, ""};
    FILE* p = popen(command.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), p)) > 0) r.out.append(buffer.data(), n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
