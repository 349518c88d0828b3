#pragma once
// The camera image the simulated recorder sends: a road scene drawn on the
// fly, with a horizon for the vanishing line and a hood edge that moves a
// little from image to image, as a camera on a running engine sees it.

#include <QByteArray>
#include <QImage>

namespace recsim {

inline constexpr int kCameraWidth = 640;
inline constexpr int kCameraHeight = 480;

// Where the scene's two lines lie in image `frame`, in pixels from the top.
int horizonRow();
int hoodEdgeRow(int frame);

QImage cameraScene(int frame);
// The scene as JPEG bytes; empty when the JPEG encoder is missing.
QByteArray cameraJpeg(int frame);

}  // namespace recsim
