// The real Qt window (offscreen): its make-up, its start state, the keyboard, and whole runs
// driven through its widgets. The open-file dialog answers through the window system's
// stand-in, except in one whole run that drives the real dialog; message boxes are answered as
// they are shown. One scenario runs in a child process: Exit in the middle of a run must end
// the process.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

#include <deque>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>

#include "test_support.h"
#include "ui/qt/qt_window_system.h"
#include "window/frm_splitter.h"
#include "window_test_support.h"

namespace splitter {
namespace {

using test::PatternBytes;
using test::ReadBytes;
using test::WriteBytes;
using testing::SlowFileSystem;

// The longest any test waits for anything.
constexpr int kWaitMs = 5000;

// The real window system, with End recorded instead of ending the test.
class RecordingWindowSystem final : public WindowSystemWrapper {
public:
    using WindowSystemWrapper::WindowSystemWrapper;
    void End() override { ++ends; }
    int ends = 0;
};

QString Describe(QWidget* window) {
    QString text = QStringLiteral("\"%1\"").arg(window->windowTitle());
    if (auto* box = qobject_cast<QMessageBox*>(window)) text += QStringLiteral(": ") + box->text();
    return text;
}

// Closes a modal window as Escape would: a message box by its No or OK button, a dialog by
// rejecting it.
void Dismiss(QWidget* window) {
    if (auto* box = qobject_cast<QMessageBox*>(window)) {
        QAbstractButton* button = box->button(QMessageBox::No);
        if (button == nullptr) button = box->button(QMessageBox::Ok);
        if (button != nullptr) button->click();
    }
    if (auto* dialog = qobject_cast<QDialog*>(window); dialog && dialog->isVisible()) {
        dialog->reject();
    }
    if (window->isVisible()) window->hide();
}

// Closes every modal window still open, innermost first; returns what it closed.
QStringList CloseModals() {
    QStringList closed;
    for (int left = 50; left > 0; --left) {
        QWidget* modal = QApplication::activeModalWidget();
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (!modal && window->isVisible() && window->isModal()) modal = window;
        }
        if (modal == nullptr) break;
        closed << Describe(modal);
        Dismiss(modal);
        QCoreApplication::processEvents();
    }
    return closed;
}

// Waits for `condition`, at most kWaitMs; then closes every modal window and fails the test,
// naming what it waited for.
#define AWAIT(condition, what)                                            \
    do {                                                                  \
        if (!QTest::qWaitFor([&] { return bool(condition); }, kWaitMs)) { \
            CloseModals();                                                \
            QFAIL("gave up waiting for " what);                           \
        }                                                                 \
    } while (false)

// Answers each modal window as it is shown with the next answer queued. A window that nobody
// expected, or that its answer left open, is closed and reported: nothing is left open that
// nobody answers.
class ModalAnswers final : public QObject {
public:
    using Answer = std::function<void(QWidget*)>;

    ModalAnswers() { qApp->installEventFilter(this); }
    void Reset() {
        answers_.clear();
        problems_.clear();
    }
    void Queue(Answer answer) { answers_.push_back(std::move(answer)); }
    QStringList Problems() const {
        QStringList problems = problems_;
        if (!answers_.empty()) problems << QStringLiteral("an awaited window never opened");
        return problems;
    }

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Show || !object->isWidgetType()) return false;
        QPointer<QWidget> window = static_cast<QWidget*>(object);
        if (!window->isWindow() || !window->isModal()) return false;
        Answer answer;
        if (answers_.empty()) {
            problems_ << QStringLiteral("unexpected ") + Describe(window);
        } else {
            answer = std::move(answers_.front());
            answers_.pop_front();
        }
        // Run from the window's own event loop, which exec() starts after the Show.
        QTimer::singleShot(0, window, [this, window, answer = std::move(answer)] {
            if (answer) answer(window);
            if (window && window->isVisible()) {
                if (answer) problems_ << Describe(window) + QStringLiteral(" stayed open");
                Dismiss(window);
            }
        });
        return false;
    }

private:
    std::deque<Answer> answers_;
    QStringList problems_;
};

// The pixels of `widget`, as the screen shows them, that are nearly black: the cores of its
// text's strokes, more of them the bolder the text.
int DarkPixels(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    int dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, y)) < 48 ? 1 : 0;
    }
    return dark;
}

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

struct SeenDialog {
    QString directory;
    QStringList nameFilters;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QString filterShown;  // what the file-type box says
    bool readmeShown = false;
    bool closedByOpen = false;
    QString fontFamily;  // the dialog's, and its name box's
    QString nameBoxFamily;
    QStringList cutColumns;  // columns narrower than what they show
    bool onScreen = false;
};

// Chooses `path` in the real dialog as a user would, keeping its settings on the way: goes to
// the file's folder, waits until the folder is listed, types the path into the name box and
// presses Open.
void ChooseInRealDialog(QFileDialog* dialog, const QString& path, SeenDialog& seen) {
    seen.directory = dialog->directory().absolutePath();
    seen.nameFilters = dialog->nameFilters();
    seen.fileMode = dialog->fileMode();
    if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        seen.filterShown = types->currentText();
    }
    auto* model = dialog->findChild<QFileSystemModel*>();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    QPushButton* open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (!model || !name || !open) return;  // left open: reported and closed

    // A name without a dot is listed and can be picked under "All Files (*.*)".
    const QString folder = QFileInfo(path).absolutePath();
    const QString readme = folder + QStringLiteral("/README");
    const auto listed = [model](const QString& file) {
        const QModelIndex index = model->index(file);
        return index.isValid() && (model->flags(index) & Qt::ItemIsEnabled);
    };
    dialog->setDirectory(folder);
    const bool loaded = QTest::qWaitFor([&] { return listed(path) && listed(readme); }, kWaitMs);
    seen.readmeShown = loaded && model->nameFilters() == QStringList{QStringLiteral("*")};

    // Every column as wide as what it shows, the dialog on the screen, in the window's family.
    seen.fontFamily = QFontInfo(dialog->font()).family();
    seen.nameBoxFamily = QFontInfo(name->font()).family();
    seen.onScreen = dialog->screen()->availableGeometry().contains(dialog->frameGeometry());
    if (auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QTest::qWait(50);  // the columns follow the rows on the next layout pass
        QHeaderView* header = list->header();
        for (int column = 0; column < header->count(); ++column) {
            if (header->isSectionHidden(column)) continue;
            const int shown =
                std::max(static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column),
                         header->sectionSizeHint(column));
            if (header->sectionSize(column) < shown) {
                seen.cutColumns << QStringLiteral("%1 (%2 < %3)")
                                       .arg(model->headerData(column, Qt::Horizontal).toString())
                                       .arg(header->sectionSize(column))
                                       .arg(shown);
            }
        }
    } else {
        seen.cutColumns << QStringLiteral("no list");
    }

    name->setText(path);
    if (QTest::qWaitFor([open] { return open->isEnabled(); }, kWaitMs)) open->click();
    seen.closedByOpen = !dialog->isVisible();
}

}  // namespace

class QtWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<qt::QtWindowSystem> qtWindow_;
    std::unique_ptr<RecordingWindowSystem> window_;
    std::unique_ptr<SlowFileSystem> slowFiles_;
    std::unique_ptr<frmSplitter> form_;
    ModalAnswers modals_;
    std::optional<QString> choice_;  // what the open-file dialog answers; nothing is Cancel
    int dialogs_ = 0;                // open-file dialogs asked for

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

    // Browse, choosing `path` in the dialog.
    void Browse(const std::string& path) {
        choice_ = QString::fromStdString(path);
        QTest::mouseClick(button(Control::cmdSelectFile), Qt::LeftButton);
    }

    void TypeParts(const QString& parts) {
        edit(Control::txtNoOfParts)->clear();
        QTest::keyClicks(edit(Control::txtNoOfParts), parts);
    }

    // Answers the next message box by pressing `pressed`, keeping what it showed.
    void AnswerBox(SeenBox& seen, QMessageBox::StandardButton pressed) {
        modals_.Queue([&seen, pressed](QWidget* window) {
            auto* box = qobject_cast<QMessageBox*>(window);
            if (box == nullptr) return;
            seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
            if (QAbstractButton* b = box->button(pressed)) b->click();
        });
    }

private slots:
    void init() {
        modals_.Reset();
        choice_.reset();
        dialogs_ = 0;
        dir_ = std::make_unique<test::TempDir>();
        qtWindow_ = std::make_unique<qt::QtWindowSystem>("Splitter");
        qtWindow_->SetOpenDialog([this](QFileDialog&) {
            ++dialogs_;
            return choice_;
        });
        window_ = std::make_unique<RecordingWindowSystem>(*qtWindow_);
    }

    void cleanup() {
        QStringList problems = modals_.Problems();
        for (const QString& left : CloseModals()) problems << left + QStringLiteral(" left open");
        form_.reset();
        window_.reset();
        qtWindow_.reset();
        slowFiles_.reset();
        dir_.reset();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QStringLiteral("; "))));
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
        // On a screen of twice the pixel density (qt_window_test_2x), the pictures drawn for it:
        // the caption band and the icon show the 2x pictures pixel for pixel, not the 1x ones
        // enlarged.
        const int ratio = qRound(form->devicePixelRatioF());
        const QString suffix = ratio == 2 ? QStringLiteral("@2x.png") : QStringLiteral(".png");
        const QImage band = QImage(QStringLiteral(":/splitter/background") + suffix)
                                .copy(0, 0, 400 * ratio, 40 * ratio)
                                .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(band.size(), QSize(400, 40) * ratio);
        QVERIFY(form->grab(QRect(0, 0, 400, 40)).toImage().convertToFormat(QImage::Format_RGB32) ==
                band);
        QCOMPARE(form->windowIcon().pixmap(QSize(32, 32), ratio).toImage(),
                 QImage(QStringLiteral(":/splitter/icon") + suffix)
                     .convertToFormat(QImage::Format_ARGB32_Premultiplied));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(form->geometry().center(), screen.center());
        // Dragging the painted title moves the window (with no window manager here, the window
        // follows the mouse itself).
        const QPoint start = form->pos();
        QTest::mousePress(form, Qt::LeftButton, {}, QPoint(200, 10));
        QTest::mouseMove(form, QPoint(260, 50));
        QTest::mouseRelease(form, Qt::LeftButton, {}, QPoint(260, 50));
        QCOMPARE(form->pos(), start + QPoint(60, 40));
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
                if (e.bold) {
                    // Bold as the screen shows it, at every scale: far darker than regular.
                    const int bold = DarkPixels(l);
                    l->setFont(qt::FormFont(false));
                    const int regular = DarkPixels(l);
                    l->setFont(qt::FormFont(true));
                    QVERIFY2(bold * 5 > regular * 8, what + " " + QByteArray::number(bold) +
                                                         " vs " + QByteArray::number(regular));
                }
            } else {
                auto* t = qobject_cast<QLineEdit*>(widget);
                QCOMPARE(t->text(), caption);
                QCOMPARE(widget->geometry(), e.rect);
                QVERIFY2(t->maxLength() >= 1 << 30, what);  // no length limit
                // A screen reader names it by its label.
                QAccessibleInterface* named = QAccessible::queryAccessibleInterface(t);
                QCOMPARE(named->text(QAccessible::Name),
                         e.id == Control::txtNoOfParts ? "No Of Parts:" : "Select File:");
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
        AWAIT(qtWindow_->window()->focusWidget() == w(Control::cmdSelectFile),
              "the focus on Browse");
        // ... with its focus ring showing, as on Windows, before any key is pressed.
        QVERIFY(qtWindow_->window()->testAttribute(Qt::WA_KeyboardFocusChange));

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
        // ... and types nothing into the box with the focus.
        w(Control::txtNoOfParts)->setFocus();
        AWAIT(QApplication::focusWidget() == w(Control::txtNoOfParts), "the focus on the count");
        QTest::keyClick(edit(Control::txtNoOfParts), Qt::Key_S, Qt::AltModifier);
        QCOMPARE(edit(Control::txtNoOfParts)->text(), QString());
        QTest::qWait(200);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(window_->ends, 0);
        QCOMPARE(label(Control::lblStatus)->text(), QStringLiteral("Ready..."));

        // Alt+X is Exit.
        QTest::keyClick(qtWindow_->window(), Qt::Key_X, Qt::AltModifier);
        AWAIT(window_->ends == 1, "Alt+X to end the program");
    }

    void tabOrderWithSplitEnabled() {
        Open();
        const std::string file = *dir_ / "t.bin";
        WriteBytes(file, PatternBytes(10));
        Browse(file);
        AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled after Browse");
        AWAIT(qtWindow_->window()->isActiveWindow(), "the window active again after the dialog");
        w(Control::cmdSelectFile)->setFocus();
        AWAIT(qtWindow_->window()->focusWidget() == w(Control::cmdSelectFile),
              "the focus on Browse");
        const Control order[] = {Control::txtNoOfParts, Control::txtSelectedFile, Control::cmdSplit,
                                 Control::cmdExit, Control::cmdSelectFile};
        for (const Control next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), w(next));
        }
    }

    // The one test that drives the real open-file dialog.
    void wholeRunFromBrowseToDone() {
        const std::string path = *dir_ / "report.pdf";
        WriteBytes(path, PatternBytes(100000));
        WriteBytes(*dir_ / "README", "abc");
        qtWindow_->SetOpenDialog(nullptr);
        Open();

        SeenDialog seen;
        modals_.Queue([&seen, path = QString::fromStdString(path)](QWidget* window) {
            if (auto* dialog = qobject_cast<QFileDialog*>(window)) {
                ChooseInRealDialog(dialog, path, seen);
            }
        });
        edit(Control::txtNoOfParts)->setFocus();
        QTest::keyClick(qtWindow_->window(), Qt::Key_B, Qt::AltModifier);  // Alt+B is Browse
        AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled after the dialog's Open");
        // As on Windows, the access key moved the focus to Browse, so Tab goes on from there.
        AWAIT(qtWindow_->window()->focusWidget() == w(Control::cmdSelectFile),
              "the focus on Browse");
        QVERIFY(seen.closedByOpen);
        QCOMPARE(seen.directory, QCoreApplication::applicationDirPath());
        QCOMPARE(seen.nameFilters, QStringList{QStringLiteral("All Files (*.*) (*)")});
        QCOMPARE(seen.fileMode, QFileDialog::ExistingFile);
        QCOMPARE(seen.filterShown, QStringLiteral("All Files (*.*)"));
        QVERIFY(seen.readmeShown);
        const QString family = QFontInfo(qtWindow_->window()->font()).family();
        QCOMPARE(seen.fontFamily, family);
        QCOMPARE(seen.nameBoxFamily, family);
        QVERIFY2(seen.cutColumns.isEmpty(), qPrintable(seen.cutColumns.join(QStringLiteral(", "))));
        QVERIFY(seen.onScreen);

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
        for (int k = 0; k < 7; ++k) joined += ReadBytes(path + "." + std::to_string(k));
        QCOMPARE(joined.size(), std::size_t{100000});
        QVERIFY(joined == ReadBytes(path));
        QCOMPARE(std::filesystem::file_size(path + ".0"), std::uintmax_t{14286});
        const std::string script = ReadBytes(path + ".bat");
        QVERIFY2(script.find("\"report.pdf.0\"+") != std::string::npos, script.c_str());
        QVERIFY2(script.find("\"report.pdf.6\" report.pdf") != std::string::npos, script.c_str());
    }

    // "Open with": the file named on the command line is chosen as Browse would choose it, and
    // the keyboard alone splits it: Tab, the count, Alt+S.
    void startedWithAFile() {
        const QString cwd = QDir::currentPath();
        struct Case {
            QStringList arguments;
            QString expected;
        };
        const Case cases[] = {
            {{QStringLiteral("splitter")}, QString()},
            {{QStringLiteral("splitter"), QString()}, QString()},
            {{QStringLiteral("splitter"), QStringLiteral("/a/./b/../c d.bin")},
             QStringLiteral("/a/c d.bin")},
            {{QStringLiteral("splitter"), QStringLiteral("sub/f.txt"), QStringLiteral("more")},
             cwd + QStringLiteral("/sub/f.txt")},
        };
        for (const Case& c : cases) {
            QCOMPARE(QString::fromStdString(qt::FileArgument(c.arguments)), c.expected);
        }

        const std::string path = *dir_ / "holiday.mp4";
        WriteBytes(path, PatternBytes(30001));
        form_ = std::make_unique<frmSplitter>(*window_);
        qtWindow_->Show(*form_, path);
        QVERIFY(QTest::qWaitForWindowExposed(qtWindow_->window()));
        AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled by the file given");
        QCOMPARE(dialogs_, 0);
        QCOMPARE(edit(Control::txtSelectedFile)->text(), QString::fromStdString(path));
        QVERIFY(label(Control::lblFileSize)->isVisible());
        QVERIFY(label(Control::lblbytes)->isVisible());
        QCOMPARE(label(Control::lblbytes)->text(), QStringLiteral("30001 Bytes."));

        AWAIT(qtWindow_->window()->focusWidget() == w(Control::cmdSelectFile),
              "the focus on Browse");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w(Control::txtNoOfParts));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("3"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
        AWAIT(label(Control::lblStatus)->text() == QStringLiteral("Done !"), "the split to end");
        QCOMPARE(edit(Control::txtNoOfParts)->text(), QStringLiteral("3"));
        QCOMPARE(ReadBytes(path + ".0") + ReadBytes(path + ".1") + ReadBytes(path + ".2"),
                 ReadBytes(path));
        QVERIFY(std::filesystem::exists(path + ".bat"));
    }

    // A file that is not there gives Browse's error for it, once the window is up.
    void startedWithAMissingFile() {
        SeenBox box;
        AnswerBox(box, QMessageBox::Ok);
        form_ = std::make_unique<frmSplitter>(*window_);
        qtWindow_->Show(*form_, *dir_ / "missing.bin");
        AWAIT(!box.text.isEmpty(), "the error box");
        QCOMPARE(box.text, QStringLiteral("Error 53: File not found (missing.bin)"));
        QCOMPARE(box.title, QStringLiteral("Splitter"));
        QCOMPARE(box.icon, QMessageBox::NoIcon);
        QVERIFY(qtWindow_->window()->isVisible());
        QVERIFY(!button(Control::cmdSplit)->isEnabled());
        QVERIFY(!label(Control::lblbytes)->isVisible());
        QCOMPARE(edit(Control::txtSelectedFile)->text(), QString());
    }

    // A file dropped anywhere on the window, a box included, is chosen as Browse chooses it;
    // what is not a local file is not taken.
    void droppedFile() {
        Open();
        const std::string path = *dir_ / "dropped.iso";
        WriteBytes(path, PatternBytes(777));
        const auto drop = [](QWidget* target, QMimeData* data) {
            const QPoint at = target->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            if (!enter.isAccepted()) return false;
            QDropEvent dropped(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &dropped);
            return dropped.isAccepted();
        };
        QMimeData text;
        text.setText(QString::fromStdString(path));
        QVERIFY(!drop(edit(Control::txtNoOfParts), &text));
        QMimeData remote;
        remote.setUrls({QUrl(QStringLiteral("https://example.org/dropped.iso"))});
        QVERIFY(!drop(qtWindow_->window(), &remote));

        QMimeData file;
        file.setUrls({QUrl(QStringLiteral("https://example.org/x")),
                      QUrl::fromLocalFile(QString::fromStdString(path))});
        QVERIFY(drop(edit(Control::txtSelectedFile), &file));
        AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled by the dropped file");
        QCOMPARE(edit(Control::txtSelectedFile)->text(), QString::fromStdString(path));
        QCOMPARE(label(Control::lblbytes)->text(), QStringLiteral("777 Bytes."));
        QCOMPARE(dialogs_, 0);
        QCOMPARE(edit(Control::txtNoOfParts)->text(), QString());
    }

    // The path box can be read and copied, not edited; a long path shows its end.
    void pathBox() {
        Open();
        const std::string path = *dir_ / (std::string(120, 'd') + "/the-name-to-see.bin");
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteBytes(path, PatternBytes(5));
        Browse(path);
        AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled after Browse");
        QLineEdit* box = edit(Control::txtSelectedFile);
        QVERIFY(box->isReadOnly());
        QVERIFY(!edit(Control::txtNoOfParts)->isReadOnly());
        QCOMPARE(box->cursorPosition(), box->text().size());
        box->grab();  // lays the text out, scrolled as it is shown
        const QRect caret = box->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        QVERIFY2(box->contentsRect().contains(caret.center()),
                 qPrintable(QStringLiteral("caret at %1 in %2").arg(caret.x()).arg(box->width())));

        box->setFocus();
        AWAIT(QApplication::focusWidget() == box, "the focus on the path box");
        QTest::keyClicks(box, QStringLiteral("x"));
        QTest::keyClick(box, Qt::Key_Backspace);
        QCOMPARE(box->text(), QString::fromStdString(path));
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(box->selectedText(), QString::fromStdString(path));
    }

    void messageBoxes() {
        Open();
        // Cancel the dialog: the Yes/No box; No leaves everything as it was.
        SeenBox box;
        AnswerBox(box, QMessageBox::No);
        QTest::mouseClick(button(Control::cmdSelectFile), Qt::LeftButton);
        QCOMPARE(dialogs_, 1);
        QCOMPARE(box.title, QStringLiteral("Error!"));
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
        const std::string file = *dir_ / "m.bin";
        WriteBytes(file, PatternBytes(10));
        for (const Case& c : cases) {
            Browse(file);
            AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled after Browse");
            edit(Control::txtNoOfParts)->clear();
            edit(Control::txtNoOfParts)->insert(c.typed);
            QCOMPARE(edit(Control::txtNoOfParts)->text().size(), c.typed.size());
            SeenBox seen;
            AnswerBox(seen, QMessageBox::Ok);
            button(Control::cmdSplit)->setFocus();
            QTest::mouseClick(button(Control::cmdSplit), Qt::LeftButton);
            QCOMPARE(seen.title, c.title);
            QCOMPARE(seen.text, c.text);
            QCOMPARE(seen.icon, c.icon);
            QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(!button(Control::cmdSplit)->isEnabled());
            if (c.focus == Control::txtNoOfParts) {
                AWAIT(QApplication::focusWidget() == w(Control::txtNoOfParts),
                      "the focus on the part count after its message box");
            }
            QCOMPARE(label(Control::lblStatus)->text(), QStringLiteral("Ready..."));
        }
    }

    // During a long run the window keeps answering: timers fire, Browse and a dropped file are
    // refused, and closing the window ends the program.
    void windowAnswersDuringALongRun() {
        const std::string path = *dir_ / "long.bin";
        const std::string other = *dir_ / "other.bin";
        WriteBytes(path, PatternBytes(200000));
        WriteBytes(other, PatternBytes(10));
        Open(/*slow=*/true);
        Browse(path);
        AWAIT(button(Control::cmdSplit)->isEnabled(), "Split enabled after Browse");
        TypeParts(QStringLiteral("3"));

        int ticks = 0;
        int ticksInRun = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            ++ticks;
            if (!form_->TakesDrops()) ++ticksInRun;
        });
        ticker.start(20);
        bool browseRefused = false;
        bool dragRefused = false;
        QString statusSeen;
        QTimer::singleShot(150, &ticker, [&] {
            statusSeen = label(Control::lblStatus)->text();
            choice_ = QString::fromStdString(other);
            QTest::mouseClick(button(Control::cmdSelectFile), Qt::LeftButton);
            QMimeData dropped;
            dropped.setUrls({QUrl::fromLocalFile(QString::fromStdString(other))});
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(qtWindow_->window(), &enter);
            dragRefused = !enter.isAccepted();  // the cursor shows no drop
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &dropped, Qt::LeftButton,
                            Qt::NoModifier);
            QApplication::sendEvent(qtWindow_->window(), &drop);
            QTest::qWait(100);
            browseRefused = dialogs_ == 1 &&
                            edit(Control::txtSelectedFile)->text() == QString::fromStdString(path);
            qtWindow_->window()->close();
        });
        QTest::mouseClick(button(Control::cmdSplit), Qt::LeftButton);
        ticker.stop();

        // The timer fired again and again during the run: how often depends on the machine.
        QVERIFY2(ticksInRun >= 2, qPrintable(QString::number(ticksInRun)));
        QVERIFY(statusSeen.startsWith(QStringLiteral("Splitting... [ ")));
        QVERIFY(browseRefused);
        QVERIFY(dragRefused);
        QCOMPARE(window_->ends, 1);  // the close request ended the program (recorded here)
        QCOMPARE(edit(Control::txtSelectedFile)->text(), QString::fromStdString(path));
    }

    // In a child process: Exit pressed in the middle of a run ends the process at once.
    void exitDuringARunEndsTheProcess() {
        const std::string path = *dir_ / "exit.bin";
        WriteBytes(path, PatternBytes(300000));
        QProcess child;  // killed on the way out if still running
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--exit-during-run"), QString::fromStdString(path)});
        QVERIFY2(child.waitForFinished(2 * kWaitMs), "gave up waiting for the child to end");
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
    qt::QtWindowSystem window("Splitter");
    const QString path = QString::fromLocal8Bit(argv[2]);
    window.SetOpenDialog([path](QFileDialog&) { return std::optional<QString>(path); });
    SlowFileSystem slow;
    frmSplitter form(window, slow);
    window.Show(form);
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
        form.cmdSelectFile_Click();  // the dialog's stand-in chooses `path`
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
