#pragma once
// A line edit whose text is selected whenever it takes the focus, so that what
// the user types replaces a placeholder such as "####" instead of extending it.

#include <QEvent>
#include <QLineEdit>
#include <QTimer>

class SelectAllOnFocus : public QObject {
public:
    explicit SelectAllOnFocus(QLineEdit* edit) : QObject(edit), edit_(edit) { edit->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Later, not now: the mouse press that gave the focus would clear the selection again.
        if (watched == edit_ && event->type() == QEvent::FocusIn)
            QTimer::singleShot(0, edit_, [e = edit_] { e->selectAll(); });
        return QObject::eventFilter(watched, event);
    }

private:
    QLineEdit* edit_;
};

inline void selectAllOnFocus(QLineEdit* edit) { new SelectAllOnFocus(edit); }
