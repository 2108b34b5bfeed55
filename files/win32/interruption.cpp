#include "files/interruption.h"

#include <algorithm>
#include <string>
#include <vector>

#include "files/win32/windows_api.h"
// After windows.h, which it needs.
#include "files/failure.h"
#include "files/win32/unicode.h"

namespace splitter::interruption {
namespace {

// The handler runs on a thread of its own, beside the run: the lock keeps the run from naming
// another file, or renaming this one, while it is removed.
SRWLOCK lock = SRWLOCK_INIT;
std::vector<std::wstring> temporaries;

BOOL WINAPI OnInterruption(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: break;
        default: return FALSE;
    }
    // Held until the process ends. The file is open for writing, shared for deletion: it goes
    // when the process closes it.
    AcquireSRWLockExclusive(&lock);
    for (const std::wstring& temporary : temporaries) DeleteFileW(temporary.c_str());
    // With the status Windows' own handler gives: wine's would end the process with 0, as if
    // the join had got through.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace

void CatchSignals() {
    SetConsoleCtrlHandler(OnInterruption, TRUE);
    // The installer and the uninstaller look for this name before they replace or remove the
    // programs (a running one would be left behind, or half replaced). Every session's
    // programs share it; Windows closes the handle with the process.
    CreateMutexW(nullptr, FALSE, L"Global\\SplitterRunning");
}

namespace {

std::wstring WideOf(const std::string& path) {
    try {
        return win32::WidePath(path);
    } catch (const Failure&) {
        return {};  // not a name the file API could have created
    }
}

}  // namespace

void AddTemporary(const std::string& path) {
    std::wstring wide = WideOf(path);
    if (wide.empty()) return;
    AcquireSRWLockExclusive(&lock);
    try {
        if (temporaries.size() < 64) temporaries.push_back(std::move(wide));
    } catch (...) {
        // Out of memory: the file is left to the run's own cleaning.
    }
    ReleaseSRWLockExclusive(&lock);
}

void ForgetTemporary(const std::string& path) {
    const std::wstring wide = WideOf(path);
    AcquireSRWLockExclusive(&lock);
    const auto at = std::find(temporaries.begin(), temporaries.end(), wide);
    if (at != temporaries.end()) temporaries.erase(at);
    ReleaseSRWLockExclusive(&lock);
}

}  // namespace splitter::interruption
