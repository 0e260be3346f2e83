#pragma once
// Tests of what an ordinary user may do. CI runs as root, which the kernel
// lets past checks that stop everybody else (an exclusive serial line, a
// read-only directory), so such a test also runs as the user `nobody`.

#include <functional>

namespace tarvelo::test {

// Runs `body` as an ordinary user: directly when the tests already run as
// one, else in a child process that becomes `nobody` first. A failure in
// the child is printed there and fails the calling test. The body must make
// its own files and lines: the child cannot use root's.
void runAsOrdinaryUser(const std::function<void()>& body);

// Runs `body` as we are and, when that is root, once more as `nobody`.
void runAsEveryUser(const std::function<void()>& body);

}  // namespace tarvelo::test
