// The real Qt window (offscreen): its make-up, its start state, the keyboard, and whole runs
// driven through its widgets, with the open-file dialog and the message boxes answered by the
// test. One scenario runs in a child process: Exit in the middle of a run must end the process.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>

#include "platform/qt/qt_window_system.h"
#include "window/frm_splitter.h"
#include "window_test_support.h"

namespace splitter {
namespace {

using testing::ScratchDir;
using testing::SlowFileSystem;

// The real window system, with End recorded instead of ending the test.
class RecordingWindowSystem final : public WindowSystemWrapper {
public:
    using WindowSystemWrapper::WindowSystemWrapper;
    void End() override { ++ends; }
    int ends = 0;
};

// Lives as long as one test function: answers still waiting when it ends die with it, so none
// can answer a later test's dialog.
QObject* g_testScope = nullptr;

// Calls `answer` with the next modal window of type T once it is open; gives up after about
// ten seconds.
template <typename T>
void AnswerNextModal(std::function<void(T*)> answer, int triesLeft = 1000) {
    QTimer::singleShot(10, g_testScope, [answer = std::move(answer), triesLeft]() mutable {
        if (auto* modal = qobject_cast<T*>(QApplication::activeModalWidget())) {
            answer(modal);
        } else if (triesLeft > 0) {
            AnswerNextModal<T>(std::move(answer), triesLeft - 1);
        }
    });
}

// Picks `path` in an open dialog as a user would: the name typed, then Open. The dialog reads
// folders in the background and may drop a name given while it is still changing folder, or
// resolve it against the old folder and put up its "file not found" box: close that box and
// try again until the dialog takes the name. The next try is set up before Open is pressed, so
// it runs inside that box's event loop too. After about ten seconds, cancel: the test then
// fails instead of hanging.
void ChooseInDialog(QPointer<QFileDialog> dialog, const QString& path, int triesLeft = 500) {
    if (!dialog || !dialog->isVisible()) return;
    if (triesLeft == 0) {
        dialog->reject();
        return;
    }
    QTimer::singleShot(20, g_testScope,
                       [dialog, path, triesLeft] { ChooseInDialog(dialog, path, triesLeft - 1); });
    if (auto* warning = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        warning->close();
        return;
    }
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog.data())->accept();  // as the Open button does
}

// Answers the next message box by pressing `button`, keeping what it showed.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};
void AnswerNextBox(SeenBox& seen, QMessageBox::StandardButton button) {
    AnswerNextModal<QMessageBox>([&seen, button](QMessageBox* box) {
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        box->button(button)->click();
    });
}

// Chooses `path` in the next open-file dialog (or cancels it when path is empty), keeping the
// dialog's settings.
struct SeenDialog {
    QString directory;
    QStringList nameFilters;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QString filterShown;  // what the file-type box says
    bool readmeShown = false;
};
void AnswerNextDialog(SeenDialog& seen, const QString& path, const QString& readme = {}) {
    AnswerNextModal<QFileDialog>([&seen, path, readme](QFileDialog* dialog) {
        seen.directory = dialog->directory().absolutePath();
        seen.nameFilters = dialog->nameFilters();
        seen.fileMode = dialog->fileMode();
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            seen.filterShown = types->currentText();
        }
        if (!readme.isEmpty()) {
            // A name without a dot is listed and can be picked under "All Files (*.*)".
            auto* model = dialog->findChild<QFileSystemModel*>();
            dialog->setDirectory(QFileInfo(readme).absolutePath());
            seen.readmeShown = QTest::qWaitFor([&] {
                const QModelIndex index = model->index(readme);
                return index.isValid() && (model->flags(index) & Qt::ItemIsEnabled) &&
                       model->nameFilters() == QStringList{QStringLiteral("*")};
            });
        }
        if (path.isEmpty()) {
            dialog->reject();
        } else {
            ChooseInDialog(dialog, path);
        }
    });
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

class QtWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QObject> scope_;
    std::unique_ptr<ScratchDir> dir_;
    std::unique_ptr<qt::QtWindowSystem> qtWindow_;
    std::unique_ptr<RecordingWindowSystem> window_;
    std::unique_ptr<SlowFileSystem> slowFiles_;
    std::unique_ptr<frmSplitter> form_;
    SeenDialog strayDialog_;  // a dialog that must not open

    QWidget* w(Control c) { return qtWindow_->widget(c); }
    QLabel* label(Control c) { return qobject_cast<QLabel*>(w(c)); }
    QLineEdit* edit(Control c) { return qobject_cast<QLineEdit*>(w(c)); }
    QPushButton* button(Control c) { return qobject_cast<QPushButton*>(w(c)); }

    void Open(bool slow = false) {
        if (slow) slowFiles_ = std::make_unique<SlowFileSystem>();
        form_ = std::make_unique<frmSplitter>(
            *window_, slow ? static_cast<FileSystem&>(*slowFiles_) : FileSystem::Default());
        qtWindow_->Show(*form_);
        QVERIFY(QTest::qWaitForWindowExposed(qtWindow_->window()));
    }

    // Browse through the real dialog, choosing `path`.
    void Browse(const QString& path) {
        SeenDialog seen;
        AnswerNextDialog(seen, path);
        QTest::mouseClick(button(Control::cmdSelectFile), Qt::LeftButton);
    }

    void TypeParts(const QString& parts) {
        edit(Control::txtNoOfParts)->clear();
        QTest::keyClicks(edit(Control::txtNoOfParts), parts);
    }

private slots:
    void init() {
        scope_ = std::make_unique<QObject>();
        g_testScope = scope_.get();
        dir_ = std::make_unique<ScratchDir>();
        qtWindow_ = std::make_unique<qt::QtWindowSystem>("Splitter");
        window_ = std::make_unique<RecordingWindowSystem>(*qtWindow_);
    }

    void cleanup() {
        form_.reset();
        window_.reset();
        qtWindow_.reset();
        slowFiles_.reset();
        dir_.reset();
        g_testScope = nullptr;
        scope_.reset();
    }

    void windowMakeUp() {
        Open();
        QWidget* form = qtWindow_->window();
        QCOMPARE(form->windowTitle(), QStringLiteral("Tarvo's File Splitter..."));
        QVERIFY(form->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(form->size(), QSize(400, 200));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QVERIFY(!form->windowIcon().isNull());
        QCOMPARE(QPixmap(QStringLiteral(":/splitter/icon.png")).size(), QSize(32, 32));
        QCOMPARE(QPixmap(QStringLiteral(":/splitter/background.png")).size(), QSize(400, 200));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(form->geometry().center(), screen.center());
    }

    void controls() {
        Open();
        struct Expected {
            Control id;
            const char* name;
            const char* className;
            const char* caption;
            QRect rect;
            bool bold;
            bool visible;
        };
        const Expected table[] = {
            {Control::cmdSelectFile,
             "cmdSelectFile",
             "QPushButton",
             "&Browse",
             {309, 53, 67, 22},
             false,
             true},
            {Control::txtNoOfParts,
             "txtNoOfParts",
             "QLineEdit",
             "",
             {110, 89, 34, 22},
             false,
             true},
            {Control::txtSelectedFile,
             "txtSelectedFile",
             "QLineEdit",
             "",
             {110, 53, 193, 22},
             false,
             true},
            {Control::cmdSplit,
             "cmdSplit",
             "QPushButton",
             "&Split",
             {36, 153, 117, 25},
             false,
             true},
            {Control::cmdExit, "cmdExit", "QPushButton", "E&xit", {263, 153, 117, 25}, false, true},
            {Control::lblSelectFileText,
             "lblSelectFileText",
             "QLabel",
             "Select File:",
             {36, 57, 60, 17},
             true,
             true},
            {Control::lblStatusText,
             "lblStatusText",
             "QLabel",
             "Status:",
             {36, 126, 40, 13},
             true,
             true},
            {Control::lblStatus,
             "lblStatus",
             "QLabel",
             "Ready...",
             {111, 126, 43, 13},
             false,
             true},
            {Control::lblNoOfParts,
             "lblNoOfParts",
             "QLabel",
             "No Of Parts:",
             {36, 93, 65, 13},
             true,
             true},
            {Control::lblFileSize,
             "lblFileSize",
             "QLabel",
             "File Size:",
             {165, 93, 48, 13},
             true,
             false},
            {Control::lblbytes,
             "lblbytes",
             "QLabel",
             "-------------",
             {219, 93, 52, 13},
             false,
             false},
        };
        const bool tahoma = QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
        for (const Expected& e : table) {
            QWidget* widget = w(e.id);
            const QByteArray what = QByteArray(e.name);
            QVERIFY2(widget != nullptr, what);
            QCOMPARE(widget->objectName(), QString::fromLatin1(e.name));
            QCOMPARE(QByteArray(widget->metaObject()->className()), QByteArray(e.className));
            QCOMPARE(widget->isVisible(), e.visible);
            const QString caption = QString::fromLatin1(e.caption);
            if (auto* b = qobject_cast<QPushButton*>(widget)) {
                QCOMPARE(b->text(), caption);
                QCOMPARE(widget->geometry(), e.rect);
                QVERIFY2(!b->isDefault() && !b->autoDefault(), what);
                QCOMPARE(b->palette().color(QPalette::Button), QColor(224, 224, 224));
                QVERIFY2(
                    b->fontMetrics().horizontalAdvance(b->text().remove(u'&')) < e.rect.width() - 8,
                    what);
            } else if (auto* l = qobject_cast<QLabel*>(widget)) {
                QCOMPARE(l->text(), caption);
                QCOMPARE(l->textFormat(), Qt::PlainText);
                // A label keeps its place and grows only to show its whole caption.
                QCOMPARE(widget->pos(), e.rect.topLeft());
                QVERIFY2(widget->width() >= e.rect.width() && widget->height() >= e.rect.height(),
                         what);
                QVERIFY2(widget->width() >= l->sizeHint().width() &&
                             widget->height() >= l->sizeHint().height(),
                         what);
                QVERIFY2(widget->geometry().right() < 400, what);
            } else {
                auto* t = qobject_cast<QLineEdit*>(widget);
                QCOMPARE(t->text(), caption);
                QCOMPARE(widget->geometry(), e.rect);
                QVERIFY2(t->maxLength() >= 1 << 30, what);  // no length limit
            }
            const QFontInfo font(widget->font());
            if (tahoma) QCOMPARE(font.family(), QStringLiteral("Tahoma"));
            QCOMPARE(widget->font().pointSizeF(), 8.25);
            QCOMPARE(widget->font().weight(), e.bold ? QFont::Bold : QFont::Normal);
            QCOMPARE(font.bold(), e.bold);
        }
    }

    // Every label ends before the control to its right, whatever font the machine gave it.
    void labelsClearTheirNeighbours() {
        Open();
        label(Control::lblFileSize)->show();
        label(Control::lblbytes)->show();
        window_->SetCaption(Control::lblbytes, "2147483647 Bytes.");
        window_->SetCaption(Control::lblStatus, "Splitting... [ 100 % Completed. ]");
        const std::pair<Control, Control> rows[] = {
            {Control::lblSelectFileText, Control::txtSelectedFile},
            {Control::lblNoOfParts, Control::txtNoOfParts},
            {Control::lblFileSize, Control::lblbytes},
            {Control::lblStatusText, Control::lblStatus},
        };
        for (const auto& [left, right] : rows) {
            QVERIFY2(w(left)->geometry().right() < w(right)->x(),
                     qPrintable(w(left)->objectName()));
        }
        for (const Control c : {Control::lblbytes, Control::lblStatus}) {
            QVERIFY(w(c)->width() >= label(c)->sizeHint().width());
            QVERIFY2(w(c)->geometry().right() < 400, qPrintable(w(c)->objectName()));
        }
    }

    // "*.*" matches every file, names without a dot too; descriptions stay as written.
    void nameFilters() {
        struct Case {
            std::string filter;
            QStringList expected;
        };
        const Case cases[] = {
            {"All Files (*.*)|*.*", {QStringLiteral("All Files (*.*) (*)")}},
            {"Text (*.txt)|*.txt;*.log|All Files (*.*)|*.*",
             {QStringLiteral("Text (*.txt) (*.txt *.log)"), QStringLiteral("All Files (*.*) (*)")}},
            {"", {}},
        };
        for (const Case& c : cases) {
            QCOMPARE(qt::NameFiltersOf(c.filter), c.expected);
        }
        // That the dialog then lists "README" is checked by wholeRunFromBrowseToDone.
    }

    void startStateAndKeyboard() {
        Open();
        QVERIFY(!button(Control::cmdSplit)->isEnabled());
        QVERIFY(button(Control::cmdSelectFile)->isEnabled());
        QVERIFY(button(Control::cmdExit)->isEnabled());
        QCOMPARE(label(Control::lblStatus)->text(), QStringLiteral("Ready..."));
        QTRY_COMPARE(QApplication::focusWidget(), w(Control::cmdSelectFile));

        // Tab walks the controls in their order, passing over the disabled Split button.
        const Control order[] = {Control::txtNoOfParts, Control::txtSelectedFile, Control::cmdExit,
                                 Control::cmdSelectFile};
        for (const Control next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), w(next));
        }
        // Enter and Escape mean nothing; Alt+S is inert while Split is disabled.
        QTest::keyClick(edit(Control::txtNoOfParts), Qt::Key_Return);
        QTest::keyClick(edit(Control::txtNoOfParts), Qt::Key_Escape);
        QTest::keyClick(qtWindow_->window(), Qt::Key_S, Qt::AltModifier);
        QTest::qWait(200);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(window_->ends, 0);
        QCOMPARE(label(Control::lblStatus)->text(), QStringLiteral("Ready..."));

        // Alt+X is Exit.
        QTest::keyClick(qtWindow_->window(), Qt::Key_X, Qt::AltModifier);
        QTRY_COMPARE(window_->ends, 1);
    }

    void tabOrderWithSplitEnabled() {
        Open();
        Browse(QString::fromStdString(dir_->MakeFile("t.bin", 10)));
        QTRY_VERIFY(button(Control::cmdSplit)->isEnabled());
        QTRY_VERIFY(qtWindow_->window()->isActiveWindow());  // back from the dialog
        w(Control::cmdSelectFile)->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w(Control::cmdSelectFile));
        const Control order[] = {Control::txtNoOfParts, Control::txtSelectedFile, Control::cmdSplit,
                                 Control::cmdExit, Control::cmdSelectFile};
        for (const Control next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), w(next));
        }
    }

    void wholeRunFromBrowseToDone() {
        const std::string path = dir_->MakeFile("report.pdf", 100000);
        const std::string readme = dir_->MakeFile("README", 3);
        Open();

        SeenDialog seen;
        AnswerNextDialog(seen, QString::fromStdString(path), QString::fromStdString(readme));
        QTest::keyClick(qtWindow_->window(), Qt::Key_B, Qt::AltModifier);  // Alt+B is Browse
        QTRY_VERIFY(button(Control::cmdSplit)->isEnabled());
        QCOMPARE(seen.directory, QCoreApplication::applicationDirPath());
        QCOMPARE(seen.nameFilters, QStringList{QStringLiteral("All Files (*.*) (*)")});
        QCOMPARE(seen.fileMode, QFileDialog::ExistingFile);
        QCOMPARE(seen.filterShown, QStringLiteral("All Files (*.*)"));
        QVERIFY(seen.readmeShown);

        QCOMPARE(edit(Control::txtSelectedFile)->text(), QString::fromStdString(path));
        QVERIFY(label(Control::lblFileSize)->isVisible());
        QVERIFY(label(Control::lblbytes)->isVisible());
        QCOMPARE(label(Control::lblbytes)->text(), QStringLiteral("100000 Bytes."));

        TypeParts(QStringLiteral("7"));
        QTest::mouseClick(button(Control::cmdSplit), Qt::LeftButton);
        QCOMPARE(label(Control::lblStatus)->text(), QStringLiteral("Done !"));
        QVERIFY(!button(Control::cmdSplit)->isEnabled());
        QVERIFY(label(Control::lblStatus)->width() >=
                label(Control::lblStatus)->sizeHint().width());

        std::string joined;
        for (int k = 0; k < 7; ++k) joined += ReadAll(path + "." + std::to_string(k));
        QCOMPARE(joined.size(), std::size_t{100000});
        QVERIFY(joined == ReadAll(path));
        QCOMPARE(std::filesystem::file_size(path + ".0"), std::uintmax_t{14286});
        const std::string script = ReadAll(path + ".bat");
        QVERIFY2(script.find("\"report.pdf.0\"+") != std::string::npos, script.c_str());
        QVERIFY2(script.find("\"report.pdf.6\" report.pdf") != std::string::npos, script.c_str());
    }

    void messageBoxes() {
        Open();
        // Cancel the dialog: the Yes/No box; No leaves everything as it was.
        SeenDialog dialog;
        SeenBox box;
        AnswerNextDialog(dialog, QString());
        AnswerNextBox(box, QMessageBox::No);
        QTest::mouseClick(button(Control::cmdSelectFile), Qt::LeftButton);
        QTRY_COMPARE(box.title, QStringLiteral("Error!"));
        QCOMPARE(box.text, QStringLiteral("You must any file...\nDo you want to continue?"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!button(Control::cmdSplit)->isEnabled());
        QVERIFY(!label(Control::lblbytes)->isVisible());

        struct Case {
            QString typed, title, text;
            QMessageBox::Icon icon;
            Control focus;
        };
        const Case cases[] = {
            {QStringLiteral(""), QStringLiteral("Tarvo's Splitter"),
             QStringLiteral("Please Enter Number of Parts."), QMessageBox::Critical,
             Control::txtNoOfParts},
            {QStringLiteral("1e3"), QStringLiteral("Tarvo's Splitter"),
             QStringLiteral("Please Enter valid number of Parts."), QMessageBox::Critical,
             Control::txtNoOfParts},
            {QStringLiteral("40000"), QStringLiteral("Splitter"),
             QStringLiteral("Error 6: Overflow"), QMessageBox::NoIcon, Control::cmdSplit},
            {QString(40000, u'7'), QStringLiteral("Splitter"), QStringLiteral("Error 6: Overflow"),
             QMessageBox::NoIcon, Control::cmdSplit},
        };
        const QString file = QString::fromStdString(dir_->MakeFile("m.bin", 10));
        for (const Case& c : cases) {
            Browse(file);
            QTRY_VERIFY(button(Control::cmdSplit)->isEnabled());
            edit(Control::txtNoOfParts)->clear();
            edit(Control::txtNoOfParts)->insert(c.typed);
            QCOMPARE(edit(Control::txtNoOfParts)->text().size(), c.typed.size());
            SeenBox seen;
            AnswerNextBox(seen, QMessageBox::Ok);
            button(Control::cmdSplit)->setFocus();
            QTest::mouseClick(button(Control::cmdSplit), Qt::LeftButton);
            QCOMPARE(seen.title, c.title);
            QCOMPARE(seen.text, c.text);
            QCOMPARE(seen.icon, c.icon);
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(!button(Control::cmdSplit)->isEnabled());
            if (c.focus == Control::txtNoOfParts) {
                QTRY_COMPARE(QApplication::focusWidget(), w(Control::txtNoOfParts));
            }
            QCOMPARE(label(Control::lblStatus)->text(), QStringLiteral("Ready..."));
        }
    }

    // During a long run the window keeps answering: timers fire, Browse is refused, and closing
    // the window ends the program.
    void windowAnswersDuringALongRun() {
        const std::string path = dir_->MakeFile("long.bin", 200000);
        const std::string other = dir_->MakeFile("other.bin", 10);
        Open(/*slow=*/true);
        Browse(QString::fromStdString(path));
        QTRY_VERIFY(button(Control::cmdSplit)->isEnabled());
        TypeParts(QStringLiteral("3"));

        int ticks = 0;
        int ticksInRun = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            ++ticks;
            if (form_->Running()) ++ticksInRun;
        });
        ticker.start(20);
        bool browseRefused = false;
        QString statusSeen;
        QTimer::singleShot(150, [&] {
            statusSeen = label(Control::lblStatus)->text();
            AnswerNextDialog(strayDialog_, QString::fromStdString(other));
            QTest::mouseClick(button(Control::cmdSelectFile), Qt::LeftButton);
            QTest::qWait(100);
            browseRefused = edit(Control::txtSelectedFile)->text() == QString::fromStdString(path);
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
            qtWindow_->window()->close();
        });
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(button(Control::cmdSplit), Qt::LeftButton);
        ticker.stop();

        QVERIFY2(ticksInRun >= 5, qPrintable(QString::number(ticksInRun)));
        QVERIFY(statusSeen.startsWith(QStringLiteral("Splitting... [ ")));
        QVERIFY(browseRefused);
        QCOMPARE(window_->ends, 1);  // the close request ended the program (recorded here)
        QCOMPARE(form_->FilePath(), path);
    }

    // In a child process: Exit pressed in the middle of a run ends the process at once.
    void exitDuringARunEndsTheProcess() {
        const std::string path = dir_->MakeFile("exit.bin", 300000);
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer clock;
        clock.start();
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--exit-during-run"), QString::fromStdString(path)});
        QVERIFY(child.waitForFinished(20000));
        const QString output = QString::fromUtf8(child.readAll());
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY2(output.contains(QStringLiteral("pressing Exit during Splitting... [ ")),
                 qPrintable(output));
        QVERIFY2(!output.contains(QStringLiteral("run returned")), qPrintable(output));
        QVERIFY(!std::filesystem::exists(path + ".bat"));
        QVERIFY(std::filesystem::exists(path + ".0"));
    }
};

// The child of exitDuringARunEndsTheProcess: splits slowly and presses Exit once the run is
// under way. Reaching the end of main means End did not end the process.
int ExitDuringRunChild(int argc, char** argv) {
    QApplication app(argc, argv);
    qt::PrepareApplication(app);
    QObject scope;
    g_testScope = &scope;
    qt::QtWindowSystem window("Splitter");
    SlowFileSystem slow;
    frmSplitter form(window, slow);
    window.Show(form);
    const std::string path = argv[2];
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const QString status = qobject_cast<QLabel*>(window.widget(Control::lblStatus))->text();
        if (!status.startsWith(QStringLiteral("Splitting... [ "))) return;
        watcher.stop();
        std::cout << "pressing Exit during " << status.toStdString() << std::endl;
        QTest::mouseClick(qobject_cast<QPushButton*>(window.widget(Control::cmdExit)),
                          Qt::LeftButton);
    });
    watcher.start(20);
    QTimer::singleShot(0, [&] {
        qobject_cast<QLineEdit*>(window.widget(Control::txtNoOfParts))->setText("2");
        // Choose the file as Browse would, then press Split.
        AnswerNextModal<QFileDialog>(
            [path](QFileDialog* dialog) { ChooseInDialog(dialog, QString::fromStdString(path)); });
        form.cmdSelectFile_Click();
        form.cmdSplit_Click();
        std::cout << "run returned" << std::endl;
    });
    app.exec();
    std::cout << "run returned to the event loop" << std::endl;
    return 3;
}

}  // namespace splitter

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--exit-during-run") {
        return splitter::ExitDuringRunChild(argc, argv);
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // a test closes the window; the tests go on
    splitter::qt::PrepareApplication(app);
    splitter::QtWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "qt_window_test.moc"
