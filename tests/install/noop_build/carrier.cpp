#include <QFile>

bool payloadPresent()
{
    Q_INIT_RESOURCE(payload_image);
    return QFile(QStringLiteral(":/payload/libpayload.so")).size() > 0;
}
