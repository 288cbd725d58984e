#pragma once
// Owns one descriptor of the operating system and closes it once: when destroyed, reset
// or given a new one. Move-only; Release() hands the descriptor on without closing it.

#include <utility>

namespace nubo {

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : fd_(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : fd_(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // The descriptor, now the caller's to close.
    int Release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held, if any, and takes fd.
    void Reset(int fd = -1) noexcept;

private:
    int fd_ = -1;
};

} // namespace nubo
