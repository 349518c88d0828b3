#include "fake_removable_media.h"

#include <QTimer>

namespace media {

void FakeRemovableMedia::failNext(const QString& objectId, QList<MediaError> errors)
{
    auto& queue = failures_[objectId];
    for (MediaError& e : errors) queue.push_back(std::move(e));
}

void FakeRemovableMedia::listRemovableDrives(Listed done)
{
    ++listings_;
    DriveList list = listError_ ? DriveList{{}, listError_} : DriveList{drives_, std::nullopt};
    QTimer::singleShot(0, this, [list = std::move(list), done = std::move(done)] { done(list); });
}

void FakeRemovableMedia::unmount(const QString& id, Done done)
{
    answer(QStringLiteral("Unmount"), id, std::move(done));
}
void FakeRemovableMedia::lock(const QString& id, Done done) { answer(QStringLiteral("Lock"), id, std::move(done)); }
void FakeRemovableMedia::eject(const QString& id, Done done) { answer(QStringLiteral("Eject"), id, std::move(done)); }
void FakeRemovableMedia::powerOff(const QString& id, Done done)
{
    answer(QStringLiteral("PowerOff"), id, std::move(done));
}

void FakeRemovableMedia::answer(const QString& verb, const QString& id, Done done)
{
    requests_ << verb + u' ' + id;
    std::optional<MediaError> error;
    if (auto it = failures_.find(id); it != failures_.end() && !it->empty()) {
        error = std::move(it->front());
        it->pop_front();
    }
    QTimer::singleShot(0, this, [done = std::move(done), error] { done(error); });
}

}  // namespace media
