// splitter: the window program. Shows the main window and runs until Exit.
//
//   splitter [FILE]
//   splitter --version
//
// FILE, when given (a file manager's "Open with" gives it), is chosen as if picked with Browse.
#include <QApplication>

#include <cstdlib>
#include <iostream>
#include <string_view>

#include "ui/qt/qt_window_system.h"
#include "window/frm_splitter.h"

namespace {

// Qt fails with a long message about platform plugins when there is no display to show the
// window on; say in plain words what is wrong and what to use instead.
bool HaveDisplay() {
#if defined(__linux__) || defined(__FreeBSD__)
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
#else
    return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "splitter " SPLITTER_VERSION "\n";
        return 0;
    }
    if (!HaveDisplay()) {
        std::cerr << "splitter: no display to show the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\n"
                     "Without a display, split from the command line instead:\n"
                     "  splitter-cli FILE PARTS    (beside this program)\n";
        return 1;
    }
    QApplication app(argc, argv);
    // The desktop entry that the window belongs to, for its icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("splitter"));
    splitter::qt::PrepareApplication(app);
    splitter::qt::QtWindowSystem window("Splitter");
    splitter::frmSplitter form(window);
    window.Show(form, splitter::qt::FileArgument(QCoreApplication::arguments()));
    return app.exec();
}
