// splitter: the window program. Shows the main window and runs until Exit.
//
//   splitter [FILE]
//   splitter --version | --help | -h
//
// FILE, when given (a file manager's "Open with" gives it), is chosen as if picked with Browse.
#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string_view>

#include "files/failure.h"
#include "files/interruption.h"

#include "ui/qt/qt_window_system.h"
#include "window/frm_splitter.h"

namespace {

constexpr const char* kUsage =
    "Usage: splitter [FILE]\n"
    "       splitter --version | --help | -h\n"
    "\n"
    "Shows the Splitter window: Browse (Alt+B) picks a file, the number of parts (2 to 999)\n"
    "goes in its box, Split (Alt+S) writes the parts FILE.0, FILE.1, ... beside the file and\n"
    "FILE.bat, a Windows command script that joins them back; Exit (Alt+X) ends the program.\n"
    "\n"
    "FILE, given here (a file manager's \"Open with\") or dropped onto the window, is chosen\n"
    "as if picked with Browse. A join script that a split wrote (FILE.bat) is offered for\n"
    "joining first: Yes joins its parts into FILE beside them, with the checks of\n"
    "splitter-cli join; No takes the script as a file to split.\n"
    "\n"
    "Without a display, use splitter-cli, the command line. See splitter(1), splitter-cli(1).\n";

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

// The program's last trap: the form's handlers and the runs trap their own failures, and
// whatever gets past them is shown as any failure is, "Error CODE: DESCRIPTION", and ends the
// program with status 1, rather than unwinding through Qt's event loop.
[[noreturn]] void EndOnFailure() {
    const std::string message = splitter::CurrentFailure().Message();
    std::cerr << "splitter: " << message << '\n';
    QMessageBox::critical(nullptr, QStringLiteral("Splitter"), QString::fromStdString(message));
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
}

class Application final : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (...) {
            EndOnFailure();
        }
    }
};

int Run(int argc, char** argv) {
    splitter::interruption::CatchSignals();
    Application app(argc, argv);
    // The desktop entry that the window belongs to, for its icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("splitter"));
    splitter::qt::PrepareApplication(app);
    splitter::qt::QtWindowSystem window("Splitter");
    splitter::frmSplitter form(window);
    window.Show(form, splitter::qt::FileArgument(QCoreApplication::arguments()));
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    // Both without a display: they show no window.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "splitter " SPLITTER_VERSION "\n";
        return 0;
    }
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (!HaveDisplay()) {
        std::cerr << "splitter: no display to show the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set).\n"
                     "Without a display, split from the command line instead:\n"
                     "  splitter-cli FILE PARTS    (beside this program)\n";
        return 1;
    }
    try {
        return Run(argc, argv);
    } catch (...) {
        // Before the window or after it: said on standard error alone.
        std::cerr << "splitter: " << splitter::CurrentFailure().Message() << '\n';
    }
    return EXIT_FAILURE;
}
