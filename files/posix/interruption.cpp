#include "files/interruption.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace splitter::interruption {
namespace {

// The handler may call nothing that allocates or locks: the path waits for it ready-made.
char temporary[PATH_MAX];
volatile sig_atomic_t haveTemporary = 0;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterruption(int signal) {
    if (haveTemporary != 0) ::unlink(temporary);
    // SA_RESETHAND has put the default action back, and SA_NODEFER lets it act at once: the
    // program ends by this very signal.
    ::raise(signal);
}

}  // namespace

void CatchSignals() {
    ::signal(SIGXFSZ, SIG_IGN);
    for (const int signal : kSignals) {
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = OnInterruption;
        // A second interruption waits for the first to end the program.
        sigemptyset(&action.sa_mask);
        for (const int other : kSignals) {
            if (other != signal) sigaddset(&action.sa_mask, other);
        }
        action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
        ::sigaction(signal, &action, nullptr);
    }
}

void SetTemporary(const std::string& path) {
    haveTemporary = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (path.empty() || path.size() >= sizeof temporary) return;
    std::memcpy(temporary, path.c_str(), path.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    haveTemporary = 1;
}

}  // namespace splitter::interruption
