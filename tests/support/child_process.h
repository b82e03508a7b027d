#pragma once

#include <functional>

namespace kq::test {

// Runs `body` in a child process once `setUp` has changed what the child may
// do (its limits, its user) and returns the body's status; 100 when no child
// could be made, 101 when `setUp` failed, 102 when the child did not exit.
int runInChild(const std::function<bool()>& setUp, const std::function<int()>& body);

} // namespace kq::test
