#include "ui/qt/qt_window_system.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

namespace splitter::qt {
namespace {

// Where Debian's fonts-wine puts its Tahoma; fontconfig does not know it. Only the regular face
// is loaded: wine's tahomabd.ttf draws at 8.25 pt hardly heavier than the regular face, so the
// bold labels would not look bold. Without it, weight 700 is drawn by emboldening the regular
// face, which reads clearly as bold when done at the size the screen shows (see Label).
constexpr const char* kTahomaFiles[] = {
    "/usr/share/wine/fonts/tahoma.ttf",
};

QString g_fontFamily;

QString ToQt(const std::string& text) {
    return QString::fromStdString(text);
}

// Paths go to the file layer as the bytes the file system holds.
std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QRect PixelRect(const ControlLayout& c) {
    return QRect(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width),
                 TwipsToPixels(c.height));
}

const ControlLayout& LayoutOf(Control control) {
    return kFormLayout[static_cast<std::size_t>(control)];
}

// The first local file among dropped data; empty when there is none.
std::vector<std::string> LocalFilesOf(const QMimeData* data) {
    std::vector<std::string> paths;
    if (data == nullptr) return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.push_back(PathBytes(url.toLocalFile()));
    }
    return paths;
}

// Wide enough for the name, size, type and date columns side by side, within the screen.
constexpr int kOpenDialogWidth = 720;
constexpr int kOpenDialogHeight = 420;

// Makes the dialog show what it lists: the window's font family, room for its columns, and
// columns as wide as what they hold, the name taking what is left. Qt's own dialog sizes its
// columns once, for a shorter date and size than it shows, and opens at its minimum size.
void FitOpenDialog(QFileDialog& dialog, QWidget* owner) {
    dialog.setFont(FormFont(false));
    if (auto* list = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = list->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    QSize size(kOpenDialogWidth, kOpenDialogHeight);
    if (const QScreen* screen = owner->screen()) {
        const QRect area = screen->availableGeometry();
        size = size.boundedTo(area.size() * 9 / 10);
    }
    dialog.resize(size.expandedTo(dialog.minimumSizeHint()));
}

std::optional<QString> ExecOpen(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

// A text box. A key typed with Alt held is an access key, never a character, as on Windows: with
// Split disabled, Alt+S finds no button and must not type an "s" into the box with the focus.
class TextBox final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;

protected:
    void keyPressEvent(QKeyEvent* event) override {
#ifndef Q_OS_MACOS  // where Option, Qt's Alt, types characters and no access key exists
        const Qt::KeyboardModifiers held = event->modifiers();
        if ((held & Qt::AltModifier) && !(held & Qt::ControlModifier) && !event->text().isEmpty() &&
            event->text().front().isPrint()) {
            event->ignore();
            return;
        }
#endif
        QLineEdit::keyPressEvent(event);
    }
};

// A label. A bold one draws its caption in the screen's own pixels. Wine's Tahoma has no bold
// face that reads as bold, so Qt thickens the regular face by a small fraction of its size. On a
// screen that scales the window (QT_SCALE_FACTOR=2, a 144 DPI desktop) Qt draws the 8.25 pt font
// enlarged, thickened only as much as the unscaled size asks: the caption looked regular. Drawn
// with the font at the size the screen shows it, it is thickened for that size and stays bold.
class Label final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override {
        const qreal ratio = devicePixelRatioF();
        if (!font().bold() || qFuzzyCompare(ratio, 1.0)) {
            QLabel::paintEvent(event);
            return;
        }
        QFont screenFont = font();
        if (screenFont.pointSizeF() > 0)
            screenFont.setPointSizeF(screenFont.pointSizeF() * ratio);
        else
            screenFont.setPixelSize(qRound(screenFont.pixelSize() * ratio));
        QPainter painter(this);
        painter.scale(1 / ratio, 1 / ratio);  // to the screen's pixels
        painter.setFont(screenFont);
        const QRect area = contentsRect();
        style()->drawItemText(
            &painter, QRect(area.topLeft() * ratio, area.size() * ratio),
            static_cast<int>(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
            isEnabled(), text(), foregroundRole());
    }
};

// What a screen reader is told of the controls that Qt's own descriptions get wrong here. The
// widgets carry which description is theirs in a property, read by the factory below.
constexpr const char* kAccessibleRole = "splitterAccessible";
enum class Accessible { kForm, kCaption, kReadOnlyBox };

// The main window: a frame named by its title (a top-level QWidget reads as a "filler").
class FormAccessible final : public QAccessibleWidget {
public:
    explicit FormAccessible(QWidget* form) : QAccessibleWidget(form, QAccessible::Window) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? widget()->windowTitle() : QAccessibleWidget::text(t);
    }
};

// A caption that another label names ("Done !" beside "Status:"): named by its own text, where
// Qt would name a label's buddy by the label.
class CaptionAccessible final : public QAccessibleWidget {
public:
    explicit CaptionAccessible(QLabel* caption)
        : QAccessibleWidget(caption, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
};

// The path box: its text can be read, selected and copied, never changed. Qt's description of
// a read-only line edit says both "read only" and "editable".
class ReadOnlyBoxAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit ReadOnlyBoxAccessible(QLineEdit* box)
        : QAccessibleWidget(box, QAccessible::EditableText) {}
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? box()->text() : QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.editable = false;
        state.selectableText = true;
        return state;
    }

    // QAccessibleTextInterface, over the box's text.
    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *start = box()->selectionStart();
            *end = *start + static_cast<int>(box()->selectedText().size());
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int) override { box()->deselect(); }
    void setSelection(int, int start, int end) override { box()->setSelection(start, end - start); }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        return box()->text().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(box()->text().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

private:
    QLineEdit* box() const { return static_cast<QLineEdit*>(widget()); }
};

QAccessibleInterface* AccessibleFor(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) return nullptr;
    const QVariant role = widget->property(kAccessibleRole);
    if (!role.isValid()) return nullptr;
    switch (static_cast<Accessible>(role.toInt())) {
        case Accessible::kForm: return new FormAccessible(widget);
        case Accessible::kCaption: return new CaptionAccessible(static_cast<QLabel*>(widget));
        case Accessible::kReadOnlyBox:
            return new ReadOnlyBoxAccessible(static_cast<QLineEdit*>(widget));
    }
    return nullptr;
}

void MarkAccessible(QWidget* widget, Accessible role) {
    widget->setProperty(kAccessibleRole, static_cast<int>(role));
    // A description Qt made before the mark (when a caption was set) is made again, ours.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

}  // namespace

// The borderless main window: paints its background picture, which draws the frame, and passes
// a close request and a dropped file to the window's logic.
class FormWidget final : public QWidget {
public:
    FormWidget()
        : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
          // With background@2x.png beside it, for screens of twice the pixel density or near it.
          background_(QStringLiteral(":/splitter/background.png")) {
        setAcceptDrops(true);
    }

    WindowEvents* events = nullptr;

protected:
    // Files dropped onto the window, anywhere on it, are handed to the window's logic, which
    // takes one as Browse would. While it takes none (a run), the cursor shows no drop.
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (events != nullptr && events->TakesDrops() && !LocalFilesOf(event->mimeData()).empty())
            event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override {
        std::vector<std::string> paths = LocalFilesOf(event->mimeData());
        if (paths.empty()) return;
        event->acceptProposedAction();
        // After the drop is over: the logic may show a message box, which must not hold up the
        // program the files came from.
        QTimer::singleShot(0, this, [this, paths = std::move(paths)] {
            if (events != nullptr) events->FilesDropped(paths);
        });
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        // The picture drawn for the screen's pixel density, pixel for pixel where there is one.
        painter.drawPixmap(rect(), background_.pixmap(size(), devicePixelRatioF()));
    }
    // The window has no title bar: dragging its background, the painted title among it (the
    // labels pass the mouse on to it), moves the window. The window manager moves it where
    // there is one; elsewhere the window follows the mouse itself.
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
        dragOffset_ = event->globalPosition().toPoint() - pos();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (dragOffset_ && (event->buttons() & Qt::LeftButton) != 0)
            move(event->globalPosition().toPoint() - *dragOffset_);
    }
    void mouseReleaseEvent(QMouseEvent*) override { dragOffset_.reset(); }
    void closeEvent(QCloseEvent* event) override {
        // Any way of closing other than Exit ends the program as Exit does.
        if (events != nullptr) events->Closing();
        event->accept();
    }

private:
    QIcon background_;
    std::optional<QPoint> dragOffset_;  // while the window follows the mouse
};

QString PrepareApplication(QApplication& app) {
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString tahoma = ToQt(std::string(kFontName));
    bool found = QFontDatabase::hasFamily(tahoma);
    for (const char* file : kTahomaFiles) {
        if (QFile::exists(QString::fromLatin1(file)) &&
            QFontDatabase::addApplicationFont(QString::fromLatin1(file)) >= 0) {
            found = true;
        }
    }
    // Without Tahoma, a condensed sans-serif comes closest to its widths, so the labels still
    // end before the controls to their right.
    const QString condensed = QStringLiteral("DejaVu Sans Condensed");
    if (found) {
        g_fontFamily = tahoma;
    } else if (QFontDatabase::hasFamily(condensed)) {
        g_fontFamily = condensed;
    } else {
        g_fontFamily = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }
    return g_fontFamily;
}

QFont FormFont(bool bold) {
    QFont font(g_fontFamily.isEmpty() ? ToQt(std::string(kFontName)) : g_fontFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kFontPoints);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

std::string FileArgument(const QStringList& arguments) {
    if (arguments.size() < 2 || arguments[1].isEmpty()) return {};
    return PathBytes(QDir::cleanPath(QFileInfo(arguments[1]).absoluteFilePath()));
}

QStringList NameFiltersOf(const std::string& filter) {
    const QStringList fields = ToQt(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
        QStringList patterns = fields[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        }
        filters << fields[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters;
}

QtWindowSystem::QtWindowSystem(std::string appTitle)
    : appTitle_(std::move(appTitle)), form_(std::make_unique<FormWidget>()) {
    FormWidget* form = form_.get();
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(AccessibleFor);
        return true;
    }();
    (void)factoryInstalled;
    MarkAccessible(form, Accessible::kForm);
    form->setWindowTitle(ToQt(std::string(kFormCaption)));
    form->setWindowIcon(QIcon(QStringLiteral(":/splitter/icon.png")));
    form->setFixedSize(TwipsToPixels(kFormWidthTwips), TwipsToPixels(kFormHeightTwips));
    form->setFont(FormFont(false));

    QWidget* previous = nullptr;
    for (const ControlLayout& c : kFormLayout) {
        QWidget* widget = nullptr;
        const QString caption = ToQt(std::string(c.caption));
        switch (c.kind) {
            case ControlKind::kButton: {
                auto* button = new QPushButton(caption, form);
                button->setAutoDefault(false);
                button->setDefault(false);
                QPalette palette = button->palette();
                palette.setColor(QPalette::Button,
                                 QColor(kButtonFaceRed, kButtonFaceGreen, kButtonFaceBlue));
                button->setPalette(palette);
                const Control id = c.id;
                // A click takes the focus, by its access key too (Alt+B), as on Windows: Tab
                // then goes on from the button, and the focus ring shows where.
                QObject::connect(button, &QPushButton::clicked, form, [form, button, id] {
                    if (button->focusPolicy() != Qt::NoFocus)
                        button->setFocus(Qt::ShortcutFocusReason);
                    if (form->events != nullptr) form->events->Click(id);
                });
                widget = button;
                break;
            }
            case ControlKind::kTextBox: {
                auto* edit = new TextBox(caption, form);
                edit->setMaxLength(std::numeric_limits<int>::max());
                edit->setReadOnly(IsReadOnly(c.id));
                if (IsReadOnly(c.id)) MarkAccessible(edit, Accessible::kReadOnlyBox);
                // A file dropped onto a box goes to the window, as anywhere else on it.
                edit->setAcceptDrops(false);
                widget = edit;
                break;
            }
            case ControlKind::kLabel: {
                auto* label = new Label(caption, form);
                label->setTextFormat(Qt::PlainText);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(false);
                widget = label;
                break;
            }
        }
        widget->setObjectName(ToQt(std::string(c.name)));
        if (c.bold) widget->setFont(FormFont(true));
        widget->setGeometry(PixelRect(c));
        if (c.kind != ControlKind::kLabel) {
            if (previous != nullptr) QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
        controls_[static_cast<std::size_t>(c.id)] = widget;
        if (c.kind == ControlKind::kLabel) SetCaption(c.id, std::string(c.caption));
    }
    // A screen reader names each text box by its label.
    for (const auto& [label, box] : kBoxLabels)
        qobject_cast<QLabel*>(this->widget(label))->setBuddy(this->widget(box));
    // ... and each caption by its label: Qt relates a label and its buddy both ways.
    for (const auto& [label, caption] : kCaptionLabels) {
        qobject_cast<QLabel*>(this->widget(label))->setBuddy(this->widget(caption));
        MarkAccessible(this->widget(caption), Accessible::kCaption);
    }
}

QtWindowSystem::~QtWindowSystem() = default;

void QtWindowSystem::Show(WindowEvents& events, const std::string& file) {
    form_->events = &events;
    events.Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // There may be no window manager to place the window (Xvfb): place it ourselves.
        const QRect area = screen->availableGeometry();
        form_->move(area.x() + (area.width() - form_->width()) / 2,
                    area.y() + (area.height() - form_->height()) / 2);
    }
    form_->show();
    form_->activateWindow();
    // Without a window manager (Xvfb) nobody activates a new window, and an activation asked
    // for before the window is mapped is lost: ask again once the event loop has mapped it.
    QTimer::singleShot(0, form_.get(), [form = form_.get()] { form->activateWindow(); });
    // With its focus ring showing from the start, as on Windows: as after a Tab.
    controls_[static_cast<std::size_t>(kFormLayout.front().id)]->setFocus(Qt::TabFocusReason);
    form_->setAttribute(Qt::WA_KeyboardFocusChange);
    if (!file.empty()) {
        // After the activation above: a message box about the file opens over the window.
        QTimer::singleShot(0, form_.get(), [form = form_.get(), file] {
            if (form->events != nullptr) form->events->FileGiven(file);
        });
    }
}

QWidget* QtWindowSystem::window() const {
    return form_.get();
}

QWidget* QtWindowSystem::widget(Control control) const {
    return controls_[static_cast<std::size_t>(control)];
}

void QtWindowSystem::SetCaption(Control label, const std::string& text) {
    auto* widget = qobject_cast<QLabel*>(this->widget(label));
    if (widget == nullptr) return;
    widget->setText(ToQt(text));
    // A label grows to fit its caption, from its left and top, and never shrinks below its
    // designed size.
    const QRect designed = PixelRect(LayoutOf(label));
    const QSize hint = widget->sizeHint();
    widget->resize(std::max(designed.width(), hint.width()),
                   std::max(designed.height(), hint.height()));
}

void QtWindowSystem::SetVisible(Control control, bool visible) {
    widget(control)->setVisible(visible);
}

std::string QtWindowSystem::Text(Control textBox) {
    auto* edit = qobject_cast<QLineEdit*>(widget(textBox));
    return edit == nullptr ? std::string() : edit->text().toStdString();
}

void QtWindowSystem::SetText(Control textBox, const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(widget(textBox))) {
        // The caret at the end, so that a long path shows its end: the file's name.
        edit->setText(ToQt(text));
        edit->setCursorPosition(static_cast<int>(edit->text().size()));
    }
}

void QtWindowSystem::SetFocus(Control control) {
    widget(control)->setFocus(Qt::OtherFocusReason);
}

void QtWindowSystem::SetEnabled(Control button, bool enabled) {
    // Split disables itself under the focus, at its own click. Qt would pass the focus on to
    // Exit, and a screen reader would say "Exit button" where the user waits for the run: the
    // status takes it, so its texts are heard as they change.
    if (!enabled && widget(button)->hasFocus())
        widget(Control::lblStatus)->setFocus(Qt::OtherFocusReason);
    widget(button)->setEnabled(enabled);
}

int QtWindowSystem::MsgBox(const std::string& prompt, int style, const std::string& title) {
    QString text = ToQt(prompt);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const bool yesNo = (style & 0xF) == kMsgYesNo;
    const QMessageBox::Icon icon =
        (style & 0xF0) == kMsgCritical ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(icon, ToQt(title.empty() ? appTitle_ : title), text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, form_.get());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
    const int pressed = box.exec();
    ReturnFocus();
    switch (pressed) {
        case QMessageBox::Yes: return kMsgYes;
        case QMessageBox::No: return kMsgNo;
        default: return yesNo ? kMsgNo : kMsgOk;
    }
}

OpenFileResult QtWindowSystem::ShowOpen(const OpenFileRequest& request) {
    QFileDialog dialog(form_.get(), QStringLiteral("Open"),
                       QFile::decodeName(request.initialFolder.c_str()));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode((request.flags & kOfnFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                                : QFileDialog::AnyFile);
    // Show "All Files (*.*)" as it is written, not with the pattern Qt really uses.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(NameFiltersOf(request.filter));
    FitOpenDialog(dialog, form_.get());
    const std::optional<QString> path = openDialog_ ? openDialog_(dialog) : ExecOpen(dialog);
    ReturnFocus();
    if (!path) return {};
    return {PathBytes(*path), PathBytes(QFileInfo(*path).fileName())};
}

void QtWindowSystem::ReturnFocus() {
    // A window manager gives the activation back to the window when a dialog closes; without
    // one (Xvfb, the offscreen platform) the window must take it back itself, or the focus
    // that the handlers set after a message box would go nowhere.
    if (form_->isVisible()) form_->activateWindow();
}

std::string QtWindowSystem::AppPath() {
    return PathBytes(QCoreApplication::applicationDirPath());
}

void QtWindowSystem::DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtWindowSystem::End() {
    // At once: not a quit request that waits for the run to return to the event loop.
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

}  // namespace splitter::qt
