// splitter.exe: the window program on Windows. Shows the main window and runs until Exit.
//
//   splitter.exe [FILE]
//
// FILE, when given (a shortcut, "Open with" or "Send To" gives it), is chosen as if picked with
// Browse.
#include "files/interruption.h"
#include "ui/win32/win32_window_system.h"
#include "window/frm_splitter.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The program's last trap (the window's handlers have one of their own): a failure is shown
    // as any failure is, and ends the program with status 1.
    try {
        splitter::interruption::CatchSignals();
        splitter::win32::Win32WindowSystem window("Splitter");
        splitter::frmSplitter form(window);
        return window.Run(form, splitter::win32::FileArgument(GetCommandLineW()));
    } catch (...) {
        splitter::win32::EndOnFailure(nullptr);
    }
}
