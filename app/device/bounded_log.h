#pragma once
// A log shown in a plain text widget that no stream of lines can freeze or
// grow without end. Lines are collected and shown a few times a second in one
// go, and only the last `limit` are kept, under a first line that counts the
// ones dropped. Text from the recorder is shown with its control characters
// replaced, so one entry is one line.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <deque>

class QPlainTextEdit;

namespace device {

// `text` with every control character, line or paragraph separator and
// bidirectional override replaced by `replacement`: nothing the recorder
// sends can start a new line, move the cursor or reorder what is shown.
QString printableText(const QString& text, QChar replacement = QChar(0xFFFD));

}  // namespace device

class BoundedLog final : public QObject {
    Q_OBJECT

public:
    static constexpr int kDefaultLimit = 10'000;
    static constexpr int kDefaultIntervalMs = 250;

    // Feeds `view`, whose child it becomes; the view's own undo history is
    // switched off, since it would keep every line ever removed.
    explicit BoundedLog(QPlainTextEdit* view, int limit = kDefaultLimit, int intervalMs = kDefaultIntervalMs);

    // One line; shown at the next update.
    void append(const QString& line);
    // Shows what was collected now (tests, and before the view is read).
    void flush();

    qint64 dropped() const { return dropped_ + droppedPending_; }
    int limit() const { return limit_; }
    // The first line once lines were dropped.
    static QString droppedLine(qint64 count);

private:
    void removeOldest(qint64 count);
    void showDroppedLine();

    QPointer<QPlainTextEdit> view_;
    const int limit_;
    QTimer timer_;
    std::deque<QString> pending_;
    qint64 shown_ = 0;           // lines in the view, the dropped line not counted
    bool droppedLineShown_ = false;
    qint64 dropped_ = 0;         // counted in the dropped line
    qint64 droppedPending_ = 0;  // dropped before they were ever shown
};
