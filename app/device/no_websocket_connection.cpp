// A build without the protocol engine has no device connection.
#include "device/device_connection.h"

namespace device {
std::unique_ptr<DeviceConnection> makeWebSocketConnection() { return nullptr; }
}  // namespace device
