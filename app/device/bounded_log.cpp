#include "device/bounded_log.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace device {

namespace {

bool unprintable(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        break;
    }
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F || u == 0x061C;
}

}  // namespace

QString printableText(const QString& text, QChar replacement)
{
    QString out = text;
    for (QChar& c : out)
        if (unprintable(c)) c = replacement;
    return out;
}

}  // namespace device

BoundedLog::BoundedLog(QPlainTextEdit* view, int limit, int intervalMs)
    : QObject(view), view_(view), limit_(std::max(1, limit))
{
    view->setUndoRedoEnabled(false);
    timer_.setSingleShot(true);
    timer_.setInterval(intervalMs);
    connect(&timer_, &QTimer::timeout, this, &BoundedLog::flush);
}

QString BoundedLog::droppedLine(qint64 count)
{
    return QStringLiteral("... %1 earlier lines not kept (only the last ones are)").arg(count);
}

void BoundedLog::append(const QString& line)
{
    pending_.push_back(device::printableText(line));
    // What could never be shown is not kept either.
    if (qint64(pending_.size()) > limit_) {
        pending_.pop_front();
        ++droppedPending_;
    }
    if (!timer_.isActive()) timer_.start();
}

void BoundedLog::flush()
{
    timer_.stop();
    if (!view_ || pending_.empty()) return;
    const qint64 incoming = qint64(pending_.size());
    const qint64 over = std::max<qint64>(0, shown_ + incoming - limit_);
    dropped_ += droppedPending_;
    droppedPending_ = 0;
    if (over >= shown_ && shown_ > 0) {
        dropped_ += shown_;
        view_->clear();
        shown_ = 0;
        droppedLineShown_ = false;
    } else if (over > 0) {
        removeOldest(over);
    }
    if (dropped_ > 0) showDroppedLine();

    QString text;
    qsizetype size = 0;
    for (const QString& line : pending_) size += line.size() + 1;
    text.reserve(size);
    for (const QString& line : pending_) {
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += line;
    }
    pending_.clear();
    view_->appendPlainText(text);
    shown_ += incoming;
}

// The oldest lines go from the top, below the dropped line.
void BoundedLog::removeOldest(qint64 count)
{
    QTextCursor cursor(view_->document());
    cursor.movePosition(QTextCursor::Start);
    if (droppedLineShown_) cursor.movePosition(QTextCursor::NextBlock);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, int(count));
    cursor.removeSelectedText();
    shown_ -= count;
    dropped_ += count;
}

void BoundedLog::showDroppedLine()
{
    QTextCursor cursor(view_->document());
    cursor.movePosition(QTextCursor::Start);
    if (droppedLineShown_) {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText(droppedLine(dropped_));
        return;
    }
    cursor.insertText(droppedLine(dropped_));
    if (shown_ > 0) cursor.insertBlock();
    droppedLineShown_ = true;
}
