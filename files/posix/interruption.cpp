#include "files/interruption.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstring>

namespace splitter::interruption {
namespace {

// The handler may call nothing that allocates or locks: the paths wait for it ready-made.
constexpr int kSlots = 64;
char temporaries[kSlots][PATH_MAX];
volatile sig_atomic_t inUse[kSlots] = {};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnInterruption(int signal) {
    for (int i = 0; i < kSlots; ++i)
        if (inUse[i] != 0) ::unlink(temporaries[i]);
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

void AddTemporary(const std::string& path) {
    if (path.empty() || path.size() >= PATH_MAX) return;
    for (int i = 0; i < kSlots; ++i) {
        if (inUse[i] != 0) continue;
        std::memcpy(temporaries[i], path.c_str(), path.size() + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        inUse[i] = 1;
        return;
    }
}

void ForgetTemporary(const std::string& path) {
    for (int i = 0; i < kSlots; ++i) {
        if (inUse[i] != 0 && path == temporaries[i]) {
            inUse[i] = 0;
            std::atomic_signal_fence(std::memory_order_seq_cst);
            return;
        }
    }
}

}  // namespace splitter::interruption
