#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vantor::test {

// Where one standard stream of a child goes: a descriptor of the test to duplicate, a file to
// open, or (neither) the test's own.
struct ChildStream {
    int fd = -1;
    std::string path;
    int flags = 0;  // open flags for `path`
};

struct ChildStreams {
    ChildStream in;
    ChildStream out;
    ChildStream err;
};

// Starts argv[0] (a path) with `streams`. The child is sent SIGTERM when the test process ends,
// however it ends (a sanitizer abort, a crash), so no simulator outlives the test that started it
// and keeps CTest waiting on its output. Start children from the test's main thread: the signal
// follows the thread that started the child. Returns the pid, or -1.
pid_t start_child(const std::vector<std::string>& argv, const ChildStreams& streams);

}  // namespace vantor::test
