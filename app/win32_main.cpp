// splitter.exe: the window program on Windows. Shows the main window and runs until Exit.
#include "ui/win32/win32_window_system.h"
#include "window/frm_splitter.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    splitter::win32::Win32WindowSystem window("Splitter");
    splitter::frmSplitter form(window);
    return window.Run(form);
}
