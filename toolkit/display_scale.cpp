#include "display_scale.h"

#include <QGuiApplication>
#include <QScreen>

namespace toolkit {

namespace {
std::optional<std::pair<double, double>> g_dpiOverride;
}

int displayScaleFromDpi(double dpiX, double dpiY) { return static_cast<int>((dpiX + dpiY) * 0.521); }

int screenDisplayScale()
{
    if (g_dpiOverride) return displayScaleFromDpi(g_dpiOverride->first, g_dpiOverride->second);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return 100;
    return displayScaleFromDpi(screen->logicalDotsPerInchX(), screen->logicalDotsPerInchY());
}

void setScreenDpiOverride(std::optional<std::pair<double, double>> dpi) { g_dpiOverride = dpi; }

int scaled(double value, int scalePercent) { return static_cast<int>(scalePercent / 100.0 * value); }

}  // namespace toolkit
