#include "editor_document.h"

#include "main_window.h"
#include "toolkit/exception_display.h"
#include "toolkit/user_interaction.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>

namespace {

const QString kAppTitle = QStringLiteral("Brindle Configuration Tool");

std::optional<QString> openableFileOf(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls()) return std::nullopt;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && EditorDocument::isOpenable(url.toLocalFile())) return url.toLocalFile();
    return std::nullopt;
}

}  // namespace

EditorDocument::EditorDocument(TFormWebsocketclientf* editor) : QObject(editor), editor_(editor)
{
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(0);
    connect(refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });

    auto* open = new QAction(QStringLiteral("Open..."), editor);
    open->setObjectName(QStringLiteral("actionOpen"));
    open->setShortcut(QKeySequence::Open);
    auto* save = new QAction(QStringLiteral("Save..."), editor);
    save->setObjectName(QStringLiteral("actionSave"));
    save->setShortcut(QKeySequence::Save);
    editor->addAction(open);
    editor->addAction(save);
    toolkit::connectGuarded(open, &QAction::triggered, editor, [editor] { editor->Button6Click(); });
    toolkit::connectGuarded(save, &QAction::triggered, editor, [editor] { editor->Button7Click(); });

    // A file dropped anywhere on the window opens, also over a text field, which
    // would otherwise insert the file's name.
    editor->setAcceptDrops(true);
    editor->installEventFilter(this);
    for (auto* w : editor->findChildren<QWidget*>())
        if (w->acceptDrops()) w->installEventFilter(this);
    watchControls();
    updateTitle();
}

void EditorDocument::watchControls()
{
    auto* pages = editor_->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    QObject* root = pages ? static_cast<QObject*>(pages) : editor_;
    for (auto* e : root->findChildren<QLineEdit*>()) connect(e, &QLineEdit::textChanged, this, &EditorDocument::scheduleRefresh);
    for (auto* c : root->findChildren<QComboBox*>()) {
        connect(c, &QComboBox::currentIndexChanged, this, &EditorDocument::scheduleRefresh);
        connect(c, &QComboBox::editTextChanged, this, &EditorDocument::scheduleRefresh);
    }
    for (auto* b : root->findChildren<QAbstractButton*>()) connect(b, &QAbstractButton::toggled, this, &EditorDocument::scheduleRefresh);
    for (auto* s : root->findChildren<QSlider*>()) connect(s, &QSlider::valueChanged, this, &EditorDocument::scheduleRefresh);
    for (auto* d : root->findChildren<QDateEdit*>()) connect(d, &QDateEdit::dateChanged, this, &EditorDocument::scheduleRefresh);
}

void EditorDocument::scheduleRefresh()
{
    if (!refreshTimer_->isActive()) refreshTimer_->start();
}

std::optional<settings::SettingsValues> EditorDocument::shownValues() const
{
    // Collected into a copy: the editor's own table moves only on loads and saves.
    settings::SettingsValues values = editor_->SettingsValues();
    try {
        editor_->collectInto(values);
    } catch (const std::exception&) {
        return std::nullopt;  // a field that holds no valid value is an edit too
    }
    return values;
}

void EditorDocument::setClean(const QString& path)
{
    path_ = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    clean_ = shownValues();
    refreshTimer_->stop();
    modified_ = false;
    updateTitle();
}

void EditorDocument::refresh()
{
    const auto shown = shownValues();
    modified_ = !shown || !clean_ || *shown != *clean_;
    updateTitle();
}

bool EditorDocument::isModified()
{
    refresh();
    return modified_;
}

void EditorDocument::updateTitle()
{
    const QString name = path_.isEmpty() ? QString() : QFileInfo(path_).fileName();
    QString title = kAppTitle;
    if (!name.isEmpty())
        title = name + (modified_ ? QStringLiteral("*") : QString()) + QStringLiteral(" - ") + kAppTitle;
    else if (modified_)
        title = QStringLiteral("Unsaved settings* - ") + kAppTitle;
    editor_->setWindowTitle(title);
    editor_->setWindowModified(modified_);
}

QString EditorDocument::dialogFolder() const
{
    return path_.isEmpty() ? QDir::currentPath() : QFileInfo(path_).absolutePath();
}

QString EditorDocument::proposedSaveName() const
{
    return path_.isEmpty() ? QStringLiteral("setting.ini") : QFileInfo(path_).fileName();
}

bool EditorDocument::confirmClose()
{
    if (!isModified()) return true;
    const QString what = path_.isEmpty() ? QStringLiteral("the settings") : QFileInfo(path_).fileName();
    const int answer = toolkit::userInteraction().choose(
        editor_, QStringLiteral("The window holds changes not yet saved. Save %1 before closing?").arg(what), kAppTitle,
        {QStringLiteral("Save"), QStringLiteral("Discard"), QStringLiteral("Cancel")});
    if (answer == 1) return true;
    if (answer != 0) return false;
    try {
        editor_->Button7Click();
    } catch (const std::exception& e) {
        toolkit::showException(e, editor_);
        return false;
    }
    return !isModified();  // a cancelled save dialog keeps the window open
}

bool EditorDocument::isOpenable(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("ini") || suffix == QLatin1String("drv");
}

void EditorDocument::openDropped(const QString& path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("drv"), Qt::CaseInsensitive) == 0)
        editor_->openDrvFile(path);
    else
        editor_->openSettingsFile(path);
}

bool EditorDocument::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    auto* drag = static_cast<QDropEvent*>(event);  // QDragEnterEvent and QDragMoveEvent derive from it
    const auto file = openableFileOf(drag->mimeData());
    if (!file) {
        // The fields keep taking dropped text; the window itself takes nothing else.
        if (watched != editor_) return false;
        drag->ignore();
        return true;
    }
    drag->acceptProposedAction();
    if (type == QEvent::Drop) {
        // After the drop returns, so the dragging application is not kept waiting on a message box.
        QTimer::singleShot(0, editor_, [this, path = *file] {
            toolkit::runGuarded([&] { openDropped(path); }, editor_);
        });
    }
    return true;
}
