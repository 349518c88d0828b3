#include "app_icon.h"

// The pictures live in the application library's resources, which a static library only links when asked to.
static void initIconResource() { Q_INIT_RESOURCE(app_icon); }

QIcon brindleAppIcon()
{
    initIconResource();
    QIcon icon;
    icon.addFile(QStringLiteral(":/brindle/app-icon-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/brindle/app-icon.png"), QSize(256, 256));
    return icon;
}
