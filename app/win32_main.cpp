// splitter.exe: the window program on Windows. Shows the main window and runs until Exit.
//
//   splitter.exe [FILE]
//
// FILE, when given (a shortcut, "Open with" or "Send To" gives it), is chosen as if picked with
// Browse.
#include "ui/win32/win32_window_system.h"
#include "window/frm_splitter.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    splitter::win32::Win32WindowSystem window("Splitter");
    splitter::frmSplitter form(window);
    return window.Run(form, splitter::win32::FileArgument(GetCommandLineW()));
}
