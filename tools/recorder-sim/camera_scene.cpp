#include "camera_scene.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QPolygonF>

#include <cmath>

namespace recsim {

int horizonRow() { return kCameraHeight * 42 / 100; }

int hoodEdgeRow(int frame)
{
    // A few pixels of engine shake, never the same two images in a row.
    static constexpr int kShake[] = {0, 2, 3, 1, -1, -3, -2, 1};
    return kCameraHeight * 86 / 100 + kShake[frame & 7];
}

QImage cameraScene(int frame)
{
    QImage image(kCameraWidth, kCameraHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = kCameraWidth;
    const qreal horizon = horizonRow();
    const qreal hood = hoodEdgeRow(frame);

    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, QColor(90, 140, 210));
    sky.setColorAt(1, QColor(200, 220, 240));
    p.fillRect(QRectF(0, 0, w, horizon), sky);
    p.fillRect(QRectF(0, horizon, w, kCameraHeight - horizon), QColor(95, 120, 70));

    // Road: a trapezoid meeting at the vanishing point on the horizon.
    const QPointF vanishing(w / 2, horizon);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 70, 75));
    p.drawPolygon(QPolygonF({vanishing + QPointF(-6, 0), vanishing + QPointF(6, 0), QPointF(w * 1.1, kCameraHeight),
                             QPointF(-w * 0.1, kCameraHeight)}));

    // Dashed centre line, moving towards the camera from image to image.
    p.setBrush(QColor(235, 235, 235));
    for (int k = 0; k < 12; ++k) {
        const qreal t0 = std::fmod((k + (frame % 4) / 4.0) / 12.0, 1.0);
        const qreal t1 = t0 + 0.03;
        auto at = [&](qreal t, qreal half) {
            const qreal y = horizon + (kCameraHeight - horizon) * t * t;
            return QPointF(w / 2 + half * t * t, y);
        };
        p.drawPolygon(QPolygonF({at(t0, -1.5), at(t0, 1.5), at(t1, 8), at(t1, -8)}));
    }

    // Hood: the dark edge of the bonnet across the bottom.
    p.setBrush(QColor(25, 30, 40));
    p.drawEllipse(QRectF(-w * 0.2, hood, w * 1.4, (kCameraHeight - hood) * 4));
    p.end();
    return image;
}

QByteArray cameraJpeg(int frame)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!cameraScene(frame).save(&buffer, "JPG", 85)) return {};
    return bytes;
}

}  // namespace recsim
