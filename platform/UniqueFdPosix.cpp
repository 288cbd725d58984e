#include <unistd.h>

#include "platform/UniqueFd.h"

namespace nubo {

void TUniqueFd::Reset(int fd) noexcept {
    const int old = std::exchange(fd_, fd);
    if (old >= 0 && old != fd) ::close(old);
}

} // namespace nubo
