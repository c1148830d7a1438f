#include "net/serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdlib>

namespace kx5::net {
namespace {

std::optional<speed_t> speedFor(uint32_t baud) {
    struct Rate {
        uint32_t baud;
        speed_t speed;
    };
    static constexpr Rate rates[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto& r : rates)
        if (r.baud == baud) return r.speed;
    return std::nullopt;
}

} // namespace

std::optional<std::string> serialDevicePath(const std::string& address) {
    if (address.rfind("/dev/", 0) == 0) return address;
    if (address.rfind("COM", 0) != 0) return std::nullopt;
    const std::string digits = address.substr(3);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return std::string();
    const int n = std::atoi(digits.c_str());
    if (n < 1) return std::string();
    return "/dev/ttyS" + std::to_string(n - 1);
}

namespace {

// Sets the port up for raw bytes; false (errno set) when it cannot be.
bool configure(int fd, uint32_t baud) {
    termios tio{};
    if (::tcflush(fd, TCIOFLUSH) != 0 || ::tcgetattr(fd, &tio) != 0) return false;
    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    // With O_NONBLOCK this makes an empty read fail with EAGAIN and a read of
    // 0 bytes mean hang-up.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (baud != 0) {
        const auto speed = speedFor(baud);
        if (!speed) {
            errno = EINVAL;
            return false;
        }
        ::cfsetispeed(&tio, *speed);
        ::cfsetospeed(&tio, *speed);
    }
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
    const int dtr = TIOCM_DTR;
    // Pseudo-terminals and some adapters have no modem lines; that is no
    // reason to refuse the port.
    return ::ioctl(fd, TIOCMBIS, &dtr) == 0 || errno == EINVAL || errno == ENOTTY || errno == EIO;
}

} // namespace

UniqueFd openSerialPort(const std::string& path, uint32_t baud) {
    if (path.empty()) {
        errno = ENOENT;
        return UniqueFd();
    }
    // Non-blocking, so that a port waiting for carrier does not hang the open.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return fd;
    if (!::isatty(fd.get()) || ::ioctl(fd.get(), TIOCEXCL) != 0) return UniqueFd();
    if (!configure(fd.get(), baud)) {
        // The mark belongs to the port, not to this descriptor: it would
        // outlive the close and keep everyone else out.
        const int saved = errno;
        ::ioctl(fd.get(), TIOCNXCL);
        errno = saved;
        return UniqueFd();
    }
    return fd;
}

void releaseSerialPort(int fd) {
    const int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIC, &dtr);
    ::tcflush(fd, TCIOFLUSH);
    ::ioctl(fd, TIOCNXCL);
}
} // namespace kx5::net
