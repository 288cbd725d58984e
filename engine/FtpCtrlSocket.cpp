#include "engine/FtpCtrlSocket.h"

#include <cstring>

#include "platform/PathMap.h"
#include "platform/Text.h"

namespace nubo {

TFtpCtrlSocket::TFtpCtrlSocket(TEventLoop& loop) : TCustomWSocket(loop) {
    DataChannel = std::make_unique<TWSocket>(loop);
    DataChannel->Name = "DataWSocket";
    SetRcvSize(2048);
    // Every reply leaves in one send. Without this a reply that follows another one
    // the client has not acknowledged yet ("150", then "226" when a small transfer
    // ends) waits for the client's delayed acknowledgement, about 40 ms.
    ComponentOptions = wsoTcpNoDelay;
    OnDataAvailable = [this](TCustomWSocket&, uint16_t) { ReceiveLines(); };
}

TFtpCtrlSocket::~TFtpCtrlSocket() {
    DataChannel.reset(); // its close handlers may look at the stream: close it first
    DropStream();
    LineFill = 0;
    SetRcvSize(0);
}

void TFtpCtrlSocket::SetRcvSize(int size) {
    if (LineFill != 0) throw EFtpCtrlSocketException("Data in buffer, can't change size");
    if (rcvSize_ < 0) rcvSize_ = 0;
    if (size == rcvSize_) return;
    lineBuffer_.reset();
    rcvSize_ = size;
    if (size > 0) lineBuffer_ = std::make_unique<char[]>(size_t(size));
}

void TFtpCtrlSocket::AssignHandle(TUniqueFd fd) {
    SetHSocket(std::move(fd));
    peerAddr_ = TCustomWSocket::PeerAddr();
}

void TFtpCtrlSocket::SendGreeting() {
    GreetingTick = TickCount();
    ActivityTick = 0;
    FtpState = ftpcWaitingUserCode;
    SendAnswer(Banner);
}

// Control bytes of an echoed argument (a NUL, a lone CR) would forge or cut reply lines.
void TFtpCtrlSocket::SendAnswer(const std::string& line) {
    SendStr(PrintableReply(line) + "\r\n");
}

void TFtpCtrlSocket::RefreshActivity() {
    ActivityTick = TickCount();
}

void TFtpCtrlSocket::OwnStream(std::unique_ptr<TStream> stream) {
    lentStream_ = nullptr;
    ownStream_ = std::move(stream);
}

void TFtpCtrlSocket::LendStream(TStream* stream) {
    ownStream_.reset();
    lentStream_ = stream;
}

void TFtpCtrlSocket::DropStream() {
    ownStream_.reset();
    lentStream_ = nullptr;
}

// Assembles lines in the one fixed buffer. A line that does not fit is replaced by
// the command OVER, so a client can never make the buffer grow.
void TFtpCtrlSocket::ReceiveLines() {
    if (rcvSize_ < 2) return;
    char* buf = lineBuffer_.get();
    int n = Receive(buf + LineFill, rcvSize_ - LineFill - 1);
    if (n <= 0) return;
    LineFill += n;
    buf[LineFill] = 0;
    DispatchLines();
}

void TFtpCtrlSocket::DispatchLines() {
    if (rcvSize_ < 2) return;
    char* buf = lineBuffer_.get();
    while (!heldBy_ && LineFill > 0) {
        char* lf = static_cast<char*>(std::memchr(buf, '\n', size_t(LineFill)));
        if (!lf) {
            if (LineFill < rcvSize_ - 1) return;
            std::memcpy(buf, "OVER\r\n", 6);
            LineFill = 6;
            buf[6] = 0;
            lf = buf + 5;
        }
        int c = int(lf - buf);
        ActivityTick = TickCount();
        int len = (c > 1 && buf[c - 1] == '\r') ? c - 1 : c;
        char saved = buf[len];
        buf[len] = 0;
        try {
            if (OnCommand) OnCommand(*this, buf, len);
        } catch (...) {
            // A line is spent even when its handler fails: it is never dispatched twice.
            if (lineBuffer_.get() == buf) DropLine(len, saved, c);
            throw;
        }
        // The handler cannot free this object, but it may have changed the buffer size.
        if (lineBuffer_.get() != buf) return;
        if (!DropLine(len, saved, c)) return;
        if (std::exchange(dropPending_, false)) {
            LineFill = 0;
            return;
        }
    }
}

// Restores the byte at len and removes the line that ends at c; false when none is left.
bool TFtpCtrlSocket::DropLine(int len, char saved, int c) {
    char* buf = lineBuffer_.get();
    buf[len] = saved;
    if (c + 1 >= LineFill) {
        LineFill = 0;
        return false;
    }
    std::memmove(buf, buf + c + 1, size_t(LineFill - c - 1));
    LineFill -= c + 1;
    buf[LineFill] = 0;
    return true;
}

void TFtpCtrlSocket::HoldCommands(std::shared_ptr<void> work) {
    heldBy_ = std::move(work);
    Pause();
}

void TFtpCtrlSocket::ReleaseCommands() {
    auto keep = std::move(heldBy_); // the job may be the caller: it dies when the caller returns
    DispatchLines();
    if (!heldBy_) Resume();
}

void TFtpCtrlSocket::ChangeDir(const std::string& newDir) {
    const std::string D = CurrentDir;
    if (newDir == D) return;
    std::string V = StripLeadingBackslash(newDir);
    std::string drive = DrivePart(V);
    if (IsUNC(drive)) throw EFtpCtrlSocketException("Cannot accept UNC path");
    std::string path;
    if (drive.empty()) {
        drive = DrivePart(D);
        path = V;
    } else {
        path = V.substr(2);
    }
    if (path.find(':') != std::string::npos) throw EFtpCtrlSocketException("Invalid directory name syntax");
    const std::string dPath = D.size() > 2 ? D.substr(2) : std::string();
    const bool sameDrive = !drive.empty() && !D.empty() && UpperAscii(drive[0]) == UpperAscii(D[0]);
    if (!path.empty() && path[0] != '\\') {
        if (!sameDrive) throw EFtpCtrlSocketException("Cannot accept path not relative to current directory");
        path = dPath + path;
    }
    if (path.empty()) path = sameDrive ? dPath : "\\";
    // "." and ".." components are resolved here; confinement to the account is the host's.
    std::string dir = ExpandFileName(drive + path);
    if (dir.back() != '\\') dir += '\\';
    CurrentDir = dir;
}

TTempDirStep::TTempDirStep(TFtpCtrlSocket& client, const std::string& arg)
    : client_(client), saved_(client.CurrentDir) {
    std::string a = ToLocalSeparators(arg);
    std::string folder = FolderPart(a);
    if (!folder.empty() && folder != "\\") {
        std::string root = OverlapRoot(client.CurrentDir, a);
        if (!root.empty()) client.ChangeDir(root);
    }
}

TTempDirStep::~TTempDirStep() {
    try {
        client_.ChangeDir(saved_);
    } catch (const std::exception&) {
        // The folder went meanwhile: the remembered value was valid before, and is put
        // back as it was (a check of it would fail the same way).
        client_.CurrentDir = saved_;
    }
}

} // namespace nubo
