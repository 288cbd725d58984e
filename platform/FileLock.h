#pragma once
// An advisory lock that the program's writers of one file take around each
// read-modify-write, so that two processes (the console and a command, or two commands)
// never write from the same old content and lose one another's change. The lock lives
// in a file of its own beside the locked one ("ftp_users.ini.lock"): the locked file
// itself is replaced on every write, and a lock on a replaced inode would guard nothing.
// Every thread of a process takes it apart from the others too.

#include <string>

#include "platform/UniqueFd.h"

namespace nubo {

class TFileLock {
public:
    // Waits up to waitMs for the lock of path. Locked() is false when it could not be
    // had in time (Error() then holds the error number, EWOULDBLOCK for a holder that did
    // not let go); a folder where no lock file can be made gives no lock and no wait, so
    // the write that follows fails or succeeds on its own.
    explicit TFileLock(const std::string& path, int waitMs = 5000);
    ~TFileLock() = default; // closing the descriptor releases the lock
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

    bool Locked() const { return locked_; }
    int Error() const { return error_; }

private:
    TUniqueFd fd_;
    bool locked_ = false;
    int error_ = 0;
};

} // namespace nubo
