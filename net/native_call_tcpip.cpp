#include "net/native_call_tcpip.h"

#include "bridge/call_arguments.h"
#include "bridge/encoding.h"
#include "bridge/javascript_interface.h"
#include "bridge/native_objects.h"
#include "net/serial_port.h"
#include "net/socket_util.h"
#include "net/tcp_connection.h"

namespace kx5 {
namespace {

constexpr int kConnectTimeoutMs = 5000;

std::optional<int64_t> portNumber(const std::string& text) {
    try {
        size_t used = 0;
        const long long v = std::stoll(text, &used);
        return v;
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

NativeCall_tcpip::NativeCall_tcpip(NativeObjects* owner) : NativeCall(owner) {
    addFunctions({{"connect", Connect}, {"close", Close}, {"write", Write}});
}

void NativeCall_tcpip::invoke(int32_t id, const Args& args, CallResult& result) {
    // A missing or unknown connection number does nothing.
    switch (id) {
    case Connect:
        result.setInt(connect(args));
        break;
    case Close: {
        std::lock_guard lock(owner()->connectionMutex);
        if (auto* c = slot(optional(args, 0))) c->close();
        break;
    }
    case Write: {
        std::lock_guard lock(owner()->connectionMutex);
        if (auto* c = slot(optional(args, 0))) c->write(hexDecode(optional(args, 1)));
        break;
    }
    default:
        break;
    }
}

int32_t NativeCall_tcpip::connect(const Args& args) {
    // Without a port there is nothing to connect to.
    if (!given(args, 1)) return -1;
    const auto port = portNumber(args[1]);
    if (!port) return -1;
    std::unique_ptr<TcpConnection> connection;
    if (const auto path = net::serialDevicePath(args[0])) {
        if (*port < 0 || *port > UINT32_MAX) return -1;
        connection = TcpConnection::openSerial(*path, static_cast<uint32_t>(*port));
    } else {
        const auto address = net::parseIpv4(args[0]);
        if (!address || *port < 1 || *port > 65535) return -1;
        connection =
            TcpConnection::connectTcp(*address, static_cast<uint16_t>(*port), kConnectTimeoutMs);
    }
    if (!connection) return -1;

    NativeObjects* o = owner();
    std::lock_guard lock(o->connectionMutex);
    auto& table = o->connections;
    size_t fd = 0;
    while (fd < table.size() && table[fd] && !table[fd]->finished())
        ++fd;
    if (fd == table.size()) table.emplace_back();
    table[fd] = std::move(connection);
    const std::string fdText = std::to_string(fd);
    table[fd]->startReader({
        [o, fdText](const Bytes& bytes) {
            o->js.postEvent(eventText({"tcpip", "read", fdText, hexEncode(bytes)}));
        },
        [o, fdText] {
            o->js.postEvent(eventText({"tcpip", "closed", fdText}));
        },
    });
    return static_cast<int32_t>(fd);
}

TcpConnection* NativeCall_tcpip::slot(const std::string& fdText) const {
    const int32_t fd = toInt(fdText);
    auto& table = owner()->connections;
    if (fd < 0 || static_cast<size_t>(fd) >= table.size() || !table[fd] || table[fd]->finished())
        return nullptr;
    return table[fd].get();
}

} // namespace kx5
