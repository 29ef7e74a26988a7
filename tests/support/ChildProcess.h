#pragma once
// Test helper: runs a piece of a test in a forked child, a real second process. As root the
// child can give up its rights first, so that file permissions bind it as they bind a user.

#include <grp.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace quorvel::testing {

// The user a root test becomes to be refused what a user would be refused.
constexpr uid_t kNobody = 65534;

// Starts `body` in a child that exits with its result. With `dropRootRights` a child of root
// becomes kNobody first (exit status 125 when it cannot).
inline pid_t startChild(const std::function<int()>& body, bool dropRootRights = false) {
    std::fflush(nullptr);  // buffered output must not be written twice
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (dropRootRights && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
        ::_exit(125);
    const int result = body();
    std::fflush(nullptr);
    ::_exit(result);
}

// The child's exit status, or -1 when it did not exit normally.
inline int waitChild(pid_t pid) {
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

inline int runInChild(const std::function<int()>& body, bool dropRootRights = false) {
    return waitChild(startChild(body, dropRootRights));
}

}  // namespace quorvel::testing
