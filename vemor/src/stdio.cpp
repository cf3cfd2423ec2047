#include "vemor/facade/stdio.hpp"

#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace vemor::facade {

int write_all(int fd, std::string_view bytes) {
    return write_all(fd, std::span<const std::string_view>(&bytes, 1));
}

int write_all(int fd, std::span<const std::string_view> pieces) {
    constexpr std::size_t kMaxPieces = 8;
    if (pieces.size() > kMaxPieces) {
        for (std::string_view piece : pieces)
            if (int e = write_all(fd, std::span<const std::string_view>(&piece, 1)); e != 0)
                return e;
        return 0;
    }
    iovec iov[kMaxPieces];
    std::size_t count = 0;
    for (std::string_view piece : pieces)
        if (!piece.empty()) iov[count++] = iovec{const_cast<char*>(piece.data()), piece.size()};
    iovec* next = iov;
    while (count > 0) {
        ssize_t n = ::writev(fd, next, static_cast<int>(count));
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
        // Skip what was written: whole pieces, then the start of the next one.
        auto done = static_cast<std::size_t>(n);
        while (count > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return 0;
}

}  // namespace vemor::facade
