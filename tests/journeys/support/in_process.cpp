#include "in_process.h"

#include "tool_process.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QCompleter>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

namespace journeys {

namespace {

bool fail(const QString& why)
{
    qWarning("journey: %s", qPrintable(why));
    return false;
}

bool shownOnScreen(QWidget* w)
{
    return w && w->isVisible() && w->window()->windowHandle() && w->window()->windowHandle()->isExposed();
}

}  // namespace

bool WidgetInput::click(QWidget* widget, std::optional<QPoint> at) const
{
    if (!waitUntil([&] { return shownOnScreen(widget); }, 10000))
        return fail(QStringLiteral("%1 is not on the screen").arg(widget->objectName()));
    // Qt takes a window's new place as soon as it asks for it (a dialog centred
    // after it is shown); the click must wait until the X server has it there.
    QWidget* window = widget->window();
    const QString id = QString::number(window->winId());
    auto placeOnServer = [&] {
        static const QRegularExpression corner(QStringLiteral("Absolute upper-left X:\\s*(-?\\d+)\\s*\n\\s*Absolute upper-left Y:\\s*(-?\\d+)"));
        const auto m = corner.match(x_.run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}).value_or(QString()));
        return m.hasMatch() ? QPoint(m.captured(1).toInt(), m.captured(2).toInt()) : QPoint(-99999, -99999);
    };
    if (!waitUntil([&] { return placeOnServer() == window->mapToGlobal(QPoint(0, 0)); }, 10000)) {
        const QPoint qt = window->mapToGlobal(QPoint(0, 0)), x = placeOnServer();
        return fail(QStringLiteral("the window of %1 is at %2,%3, not at %4,%5 where Qt has it")
                        .arg(widget->objectName())
                        .arg(x.x())
                        .arg(x.y())
                        .arg(qt.x())
                        .arg(qt.y()));
    }
    return x_.click(widget->mapToGlobal(at.value_or(widget->rect().center())));
}

bool WidgetInput::retype(QLineEdit* field, const QString& text) const
{
    if (!click(field)) return fail(QStringLiteral("cannot click %1").arg(field->objectName()));
    if (!waitUntil([&] { return field->hasFocus(); }, 10000)) {
        QWidget* active = QApplication::activeWindow();
        return fail(QStringLiteral("%1 did not take the focus; the active window is %2")
                        .arg(field->objectName(), active ? active->windowTitle() : QStringLiteral("none")));
    }
    if (!keys({QStringLiteral("ctrl+a")}) || !type(text)) return fail(QStringLiteral("xdotool failed"));
    if (waitUntil([&] { return field->text() == text; }, 10000)) return true;
    return fail(QStringLiteral("%1 shows \"%2\", not \"%3\"").arg(field->objectName(), field->text(), text));
}

bool WidgetInput::choose(QComboBox* box, const QString& item) const
{
    const int index = box->findText(item);
    if (index < 0) return fail(QStringLiteral("%1 has no item \"%2\"").arg(box->objectName(), item));
    if (box->currentIndex() == index) return true;
    // A box one can type into opens its list from the arrow only.
    QPoint at = box->rect().center();
    if (box->isEditable()) {
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.editable = true;
        at = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, box).center();
    }
    if (!click(box, at)) return fail(QStringLiteral("cannot click %1").arg(box->objectName()));
    QAbstractItemView* list = box->view();
    if (!waitUntil([&] { return shownOnScreen(list); }, 10000))
        return fail(QStringLiteral("the list of %1 did not open").arg(box->objectName()));
    const QModelIndex wanted = box->model()->index(index, box->modelColumn(), box->rootModelIndex());
    // A long list shows the wanted item after scrolling, as the user's wheel would.
    list->scrollTo(wanted);
    QCoreApplication::processEvents();
    if (!click(list->viewport(), list->visualRect(wanted).center()))
        return fail(QStringLiteral("cannot click into the list of %1").arg(box->objectName()));
    if (waitUntil([&] { return box->currentIndex() == index && !list->isVisible(); }, 10000)) return true;
    return fail(QStringLiteral("%1 shows \"%2\", not \"%3\"").arg(box->objectName(), box->currentText(), item));
}

bool WidgetInput::showPage(QTabWidget* pages, int index) const
{
    if (pages->currentIndex() == index) return true;
    QTabBar* bar = pages->tabBar();
    if (!click(bar, bar->tabRect(index).center())) return fail(QStringLiteral("cannot click a tab"));
    if (waitUntil([&] { return pages->currentIndex() == index; }, 10000)) return true;
    return fail(QStringLiteral("page %1 is not shown").arg(index));
}

bool WidgetInput::pressButton(QWidget* window, const QString& text) const
{
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->isVisible() && QString(b->text()).remove(u'&') == text) return click(b);
    return false;
}

bool WidgetInput::chooseFile(QWidget* fileDialog, const QString& name) const
{
    QPointer<QWidget> dialog = fileDialog;
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (!field) return fail(QStringLiteral("no file name field in \"%1\"").arg(dialog->windowTitle()));
    if (!retype(field, name)) return false;
    // A name that begins an entry of the folder opens the completion list, which
    // takes the keyboard: a Return then closes the dialog under the list, and Qt
    // does not hand the activation back to the window below. The user's Escape
    // closes the list first. The list is awaited both ways, never assumed.
    if (QAbstractItemView* list = field->completer() ? field->completer()->popup() : nullptr) {
        auto* files = qobject_cast<QFileDialog*>(fileDialog);
        const QDir folder = files ? files->directory() : QDir::current();
        const bool completes = !QFileInfo(name).isAbsolute() && !folder.entryList({name + u'*'}).isEmpty();
        if (completes) {
            if (!waitUntil([&] { return list->isVisible(); }, 5000)) return fail(QStringLiteral("no completion list"));
            if (!keys({QStringLiteral("Escape")}) || !waitUntil([&] { return !list->isVisible(); }, 5000))
                return fail(QStringLiteral("the completion list stays open"));
            if (!dialog || !dialog->isVisible()) return fail(QStringLiteral("Escape closed the file dialog"));
        } else if (!waitUntil([&] { return !list->isVisible(); }, 5000)) {
            return fail(QStringLiteral("a completion list for a new name"));
        }
    }
    if (!keys({QStringLiteral("Return")})) return fail(QStringLiteral("xdotool failed"));
    if (!waitUntil([&] { return !dialog || !dialog->isVisible(); }, 10000))
        return fail(QStringLiteral("the file dialog stays open with \"%1\"").arg(field->text()));
    return true;
}

ModalAnswers::ModalAnswers(QObject* parent) : QObject(parent), timer_(new QTimer(this))
{
    timer_->setInterval(50);
    connect(timer_, &QTimer::timeout, this, &ModalAnswers::poll);
    timer_->start();
}

ModalAnswers::~ModalAnswers() = default;

void ModalAnswers::expect(const QString& what, Answer answer) { expected_.push_back({what, std::move(answer)}); }

bool ModalAnswers::waitAllAnswered(int timeoutMs)
{
    return waitUntil([this] { return expected_.empty() && !answering_; }, timeoutMs);
}

QStringList ModalAnswers::pending() const
{
    QStringList out;
    for (const Expected& e : expected_) out << e.what;
    return out;
}

void ModalAnswers::poll()
{
    if (answering_) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !shownOnScreen(modal)) return;
    if (modal == lastAnswered_) {
        // An answer that did not close its dialog would leave the journey
        // waiting in exec() for ever: it goes, and counts as unexpected.
        if (answeredAt_.hasExpired()) {
            unexpected_ << modal->windowTitle() + QStringLiteral(" (still open after its answer)");
            if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
        }
        return;
    }
    // Keys go where the focus is: the dialog answers once the window manager gave it the focus.
    if (QApplication::activeWindow() != modal) {
        if (!waitingForFocus_.isForever() && waitingForFocus_.hasExpired()) modal->activateWindow();
        if (waitingForFocus_.isForever()) waitingForFocus_ = QDeadlineTimer(3000);
        return;
    }
    waitingForFocus_ = QDeadlineTimer(QDeadlineTimer::Forever);
    answering_ = true;
    lastAnswered_ = modal;
    answeredAt_ = QDeadlineTimer(20000);
    if (expected_.empty()) {
        unexpected_ << modal->windowTitle();
        if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
    } else {
        Expected next = std::move(expected_.front());
        expected_.pop_front();
        answered_ << modal->windowTitle();
        next.answer(modal);
    }
    answering_ = false;
}

}  // namespace journeys
