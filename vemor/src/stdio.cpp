#include "vemor/facade/stdio.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace vemor::facade {

int write_all(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd pfd{fd, POLLOUT, 0};
                if (::poll(&pfd, 1, -1) < 0 && errno != EINTR) return errno;
                continue;
            }
            return errno;
        }
        if (n == 0) return -1;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace vemor::facade
