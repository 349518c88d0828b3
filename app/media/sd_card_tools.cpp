#include "sd_card_tools.h"

#include "udisks2_media.h"

namespace media {

SdCardTools::SdCardTools(QWidget* window, SdCardInitializer::Log log, QObject* parent)
    : QObject(parent), initializer_(window, std::move(log)), ejector_(window)
{
    connect(&initializer_, &SdCardInitializer::finished, this, [this] { emit busyChanged(busy()); });
    connect(&ejector_, &DriveEjector::finished, this, [this] { emit busyChanged(busy()); });
}

SdCardTools::~SdCardTools() = default;

RemovableMedia& SdCardTools::media()
{
    if (!media_) media_ = std::make_unique<Udisks2Media>();
    return *media_;
}

void SdCardTools::initializeSdCard()
{
    if (busy()) return;
    emit busyChanged(true);
    initializer_.run(media());
}

void SdCardTools::ejectSdCard()
{
    if (busy()) return;
    emit busyChanged(true);
    ejector_.run(media());
}

}  // namespace media
