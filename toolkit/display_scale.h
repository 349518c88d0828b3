#pragma once
// The screen's display scale in percent, from its logical DPI.

#include <optional>
#include <utility>

namespace toolkit {

// (horizontal + vertical DPI) x 0.521, truncated: 100 at 96 DPI, 125 at 120 DPI.
int displayScaleFromDpi(double dpiX, double dpiY);

// The primary screen's scale, or the one computed from an override set by tests.
int screenDisplayScale();
void setScreenDpiOverride(std::optional<std::pair<double, double>> dpi);

// value x scale / 100 computed in floating point and truncated toward zero.
int scaled(double value, int scalePercent);

}  // namespace toolkit
