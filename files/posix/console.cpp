#include "files/console.h"

#include <signal.h>
#include <unistd.h>

#include <iostream>

namespace splitter::console {

std::vector<std::string> Arguments(int argc, char** argv) {
    if (argc < 1) return {};
    return std::vector<std::string>(argv + 1, argv + argc);
}

bool RedrawsInPlace() {
    return ::isatty(STDOUT_FILENO) == 1;
}

void KeepRunningWithoutReader() {
    ::signal(SIGPIPE, SIG_IGN);
}

// A terminal here reads UTF-8, as the names are: the bytes go as they are.
void PrintError(const std::string& message) {
    std::cerr << message << std::endl;
}

}  // namespace splitter::console
