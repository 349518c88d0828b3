#pragma once
// Journeys through windows that live in the test program itself: the app
// library's windows on the session's display, driven through the X server.
//
// QTest's mouseClick and keyClick hand their events to Qt directly; the
// helpers here go through XTEST instead, so the window manager's stacking and
// focus decide where a click or a key lands, as they do for a person. Every
// helper waits for what the user would see (the field shows the text, the
// list took the item) and says whether it came.

#include "x_tools.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

class QComboBox;
class QLineEdit;
class QTabWidget;
class QTimer;
class QWidget;

namespace journeys {

class WidgetInput {
public:
    explicit WidgetInput(const XSession& session) : x_(session) {}

    // Clicks a point of the widget (its middle by default) with the mouse.
    bool click(QWidget* widget, std::optional<QPoint> at = std::nullopt) const;
    bool keys(const QStringList& keys) const { return x_.keys(keys); }
    bool type(const QString& text) const { return x_.type(text); }

    // Clicks into the field, selects all and types: true when it then shows `text`.
    bool retype(QLineEdit* field, const QString& text) const;
    // Opens the list with a click and clicks the item: true when the box shows it.
    bool choose(QComboBox* box, const QString& item) const;
    // Clicks the page's tab: true when the page is shown.
    bool showPage(QTabWidget* pages, int index) const;
    // Clicks the widget's button whose text (without mnemonic marks) is `text`.
    bool pressButton(QWidget* window, const QString& text) const;
    // Answers an open or save file dialog with a name (relative to the folder it
    // shows, or absolute) and accepts it with Return.
    bool chooseFile(QWidget* fileDialog, const QString& name) const;

    const XTools& x() const { return x_; }

private:
    XTools x_;
};

// Answers the modal dialogs the code under test opens, in the order they are
// expected: a timer finds each one (QApplication::activeModalWidget) once it
// is shown and active, while the code that opened it waits in its exec(). A
// modal dialog nobody expected is noted and rejected, so no journey can hang
// on one.
class ModalAnswers : public QObject {
public:
    using Answer = std::function<void(QWidget* dialog)>;

    explicit ModalAnswers(QObject* parent = nullptr);
    ~ModalAnswers() override;

    void expect(const QString& what, Answer answer);
    // Waits (keeping events going) until every expected dialog was answered.
    bool waitAllAnswered(int timeoutMs = 30000);
    // What was expected but did not come yet.
    QStringList pending() const;
    // Titles of the dialogs answered, and of those nobody expected.
    const QStringList& answered() const { return answered_; }
    const QStringList& unexpected() const { return unexpected_; }

private:
    void poll();

    struct Expected {
        QString what;
        Answer answer;
    };
    std::deque<Expected> expected_;
    QStringList answered_;
    QStringList unexpected_;
    QPointer<QWidget> lastAnswered_;
    QDeadlineTimer answeredAt_;
    QDeadlineTimer waitingForFocus_{QDeadlineTimer::Forever};
    QTimer* timer_;
    bool answering_ = false;
};

}  // namespace journeys
