#pragma once
// What a program asks of the system around its event loop: the quit signals as a
// readable descriptor, broken pipes ignored, the descriptor limit, its own folder.

#include <string>

namespace nubo {

// SIGINT and SIGTERM, blocked for the whole process and delivered through Fd()
// instead, so that the event loop handles them between two events. Made before any
// other thread starts (Qt's), so that every thread inherits the block.
class TQuitSignals {
public:
    TQuitSignals();
    ~TQuitSignals();
    TQuitSignals(const TQuitSignals&) = delete;
    TQuitSignals& operator=(const TQuitSignals&) = delete;

    // Readable while a signal waits; -1 when the system refused one.
    int Fd() const { return fd_; }
    // Takes every waiting signal, so that the descriptor is quiet again.
    void Drain();

private:
    int fd_ = -1;
};

// A write to a connection the peer has closed fails with an error instead of ending
// the process.
void IgnoreBrokenPipes();
// Every client costs descriptors: takes all the system allows this process.
void RaiseDescriptorLimit();
// The folder of the running executable, without a trailing separator; "." when unknown.
std::string ExecutableFolder();
// This machine's name; "localhost" when the system has none.
std::string MachineName();

} // namespace nubo
