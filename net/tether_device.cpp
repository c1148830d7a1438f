#include "net/tether_device.h"

#include "bridge/json_parse.h"

#include <picojson.h>

#include <cmath>
#include <limits>
#include <stdexcept>

namespace kx5 {
namespace {

std::string text(const picojson::object& o, const char* key) {
    return requiredMember(o, key).get<std::string>();
}

int32_t integer(const picojson::object& o, const char* key) {
    const double d = std::trunc(requiredMember(o, key).get<double>());
    // Out-of-range values would be undefined to convert; they name no device.
    if (!(d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max()))
        throw std::runtime_error(std::string("out of range ") + key);
    return static_cast<int32_t>(d);
}

} // namespace

std::string tetherDeviceJson(const TetherDevice& d) {
    picojson::object o;
    o["TetherDeviceAddressKey"] = picojson::value(d.address);
    o["TetherDevicePortNoKey"] = picojson::value(static_cast<double>(d.port));
    o["TetherDeviceUIDKey"] = picojson::value(d.uid);
    o["TetherDeviceCapsKey"] = picojson::value(static_cast<double>(d.caps));
    o["TetherDeviceImageKey"] = picojson::value(static_cast<double>(d.image));
    o["TetherDeviceStatusKey"] = picojson::value(static_cast<double>(d.status));
    o["TetherDeviceManufacturerKey"] = picojson::value(d.manufacturer);
    o["TetherDeviceVersionKey"] = picojson::value(d.version);
    o["TetherDeviceNameKey"] = picojson::value(d.name);
    return picojson::value(o).serialize();
}

TetherDevice parseTetherDevice(const std::string& json) {
    picojson::value v;
    parseJson(v, json);
    const auto& o = v.get<picojson::object>();
    TetherDevice d;
    d.address = text(o, "TetherDeviceAddressKey");
    d.port = integer(o, "TetherDevicePortNoKey");
    d.uid = text(o, "TetherDeviceUIDKey");
    d.caps = integer(o, "TetherDeviceCapsKey");
    d.image = integer(o, "TetherDeviceImageKey");
    d.status = integer(o, "TetherDeviceStatusKey");
    d.manufacturer = text(o, "TetherDeviceManufacturerKey");
    d.version = text(o, "TetherDeviceVersionKey");
    d.name = text(o, "TetherDeviceNameKey");
    return d;
}

} // namespace kx5
