#pragma once
// A UserInteraction for tests: answers from a script and records every request.
// Unscripted questions are answered "Cancel", so no test can ever hang on a dialog.

#include "user_interaction.h"

#include <QList>

#include <deque>

namespace toolkit {

class ScriptedUserInteraction final : public UserInteraction {
public:
    enum class Kind { Information, Error, Confirm, OpenFiles, SaveFile, ChooseFolder, Notice, Choice };
    struct Request {
        Kind kind;
        QString text;     // message text, or the dialog title
        QString caption;  // message caption
        FileDialogRequest file = {};
        QString details = {};      // a notice's longer part
        QStringList buttons = {};  // a choice's buttons
    };

    ScriptedUserInteraction() { setUserInteraction(this); }
    ~ScriptedUserInteraction() override { setUserInteraction(nullptr); }
    ScriptedUserInteraction(const ScriptedUserInteraction&) = delete;
    ScriptedUserInteraction& operator=(const ScriptedUserInteraction&) = delete;

    // Answers are consumed in order, per kind; std::nullopt means "Cancel".
    void answerConfirm(bool ok) { confirms_.push_back(ok); }
    // The button a choice takes, by its text; unscripted choices are closed (-1).
    void answerChoice(QString button) { choices_.push_back(std::move(button)); }
    void answerOpen(std::optional<QString> file)
    {
        opens_.push_back(file ? std::optional<QStringList>(QStringList{*file}) : std::nullopt);
    }
    void answerOpenMany(QStringList files) { opens_.push_back(std::move(files)); }
    void answerSave(std::optional<QString> file) { saves_.push_back(std::move(file)); }
    void answerFolder(std::optional<QString> folder) { folders_.push_back(std::move(folder)); }

    const QList<Request>& requests() const { return requests_; }
    QList<Request> requestsOf(Kind kind) const
    {
        QList<Request> out;
        for (const auto& r : requests_)
            if (r.kind == kind) out << r;
        return out;
    }
    QStringList messages() const  // texts of information and error boxes, in order
    {
        QStringList out;
        for (const auto& r : requests_)
            if (r.kind == Kind::Information || r.kind == Kind::Error || r.kind == Kind::Notice) out << r.text;
        return out;
    }
    QStringList errors() const
    {
        QStringList out;
        for (const auto& r : requestsOf(Kind::Error)) out << r.text;
        return out;
    }
    void clear() { requests_.clear(); }

    void information(QWidget*, const QString& text, const QString& caption) override
    {
        requests_.append({Kind::Information, text, caption, {}});
    }
    void error(QWidget*, const QString& text, const QString& caption) override
    {
        requests_.append({Kind::Error, text, caption, {}});
    }
    bool confirm(QWidget*, const QString& text, const QString& caption) override
    {
        requests_.append({Kind::Confirm, text, caption, {}});
        return take(confirms_).value_or(false);
    }
    void notice(QWidget*, const QString& text, const QString& details, const QString& caption) override
    {
        requests_.append({Kind::Notice, text, caption, {}, details, {}});
    }
    int choose(QWidget*, const QString& text, const QString& caption, const QStringList& buttons) override
    {
        requests_.append({Kind::Choice, text, caption, {}, {}, buttons});
        const auto answer = take(choices_);
        return answer ? int(buttons.indexOf(*answer)) : -1;
    }
    std::optional<QStringList> openFiles(const FileDialogRequest& request) override
    {
        requests_.append({Kind::OpenFiles, request.title, {}, request});
        return take(opens_).value_or(std::nullopt);
    }
    std::optional<QString> saveFile(const FileDialogRequest& request) override
    {
        requests_.append({Kind::SaveFile, request.title, {}, request});
        return take(saves_).value_or(std::nullopt);
    }
    std::optional<QString> chooseFolder(QWidget*, const QString& title, const QString& start) override
    {
        FileDialogRequest r;
        r.directory = start;
        requests_.append({Kind::ChooseFolder, title, {}, r});
        return take(folders_).value_or(std::nullopt);
    }

private:
    template <class T>
    static std::optional<T> take(std::deque<T>& queue)
    {
        if (queue.empty()) return std::nullopt;
        T value = std::move(queue.front());
        queue.pop_front();
        return value;
    }

    QList<Request> requests_;
    std::deque<bool> confirms_;
    std::deque<QString> choices_;
    std::deque<std::optional<QStringList>> opens_;
    std::deque<std::optional<QString>> saves_;
    std::deque<std::optional<QString>> folders_;
};

}  // namespace toolkit
