#include "socket/TlsStage.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "socket/SocketErrors.h"

namespace nubo {

namespace {

// The library's reason for the last failure of this thread, or what the system said.
std::string LibraryReason(int sysErr) {
    const unsigned long e = ERR_peek_last_error();
    ERR_clear_error();
    if (e != 0) {
        const char* reason = ERR_reason_error_string(e);
        return reason ? reason : "error " + std::to_string(e);
    }
    if (sysErr != 0) return std::strerror(sysErr);
    return "the connection ended";
}

} // namespace

TTlsStage::TTlsStage(SSL_CTX* ctx, int fd) {
    ssl_ = ctx ? SSL_new(ctx) : nullptr;
    if (!ssl_ || SSL_set_fd(ssl_, fd) != 1) {
        if (ssl_) SSL_free(ssl_);
        ERR_clear_error();
        throw ESocketException("TLS: cannot make the connection's state", WSAEINVAL);
    }
    // An upload ends with the peer's close; clients that skip the close alert still
    // end it in order, and the transfer's own length checks stay with the caller.
    SSL_set_options(ssl_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_set_accept_state(ssl_);
}

TTlsStage::~TTlsStage() {
    SSL_free(ssl_);
}

TTlsStage::TWait TTlsStage::Classify(int rc, const char* what) {
    const int sysErr = errno;
    switch (SSL_get_error(ssl_, rc)) {
    case SSL_ERROR_WANT_READ: return TWait::Read;
    case SSL_ERROR_WANT_WRITE: return TWait::Write;
    default: error_ = std::string(what) + ": " + LibraryReason(sysErr); return TWait::None;
    }
}

bool TTlsStage::Handshake(TWait& wait) {
    if (established_) return true;
    ERR_clear_error();
    const int rc = SSL_do_handshake(ssl_);
    if (rc == 1) {
        established_ = true;
        wait = TWait::None;
        return true;
    }
    wait = Classify(rc, "TLS handshake");
    return false;
}

int TTlsStage::Read(void* buf, int size, TWait& wait) {
    wait = TWait::None;
    if (size <= 0) return 0;
    ERR_clear_error();
    const int rc = SSL_read(ssl_, buf, size);
    if (rc > 0) return rc;
    if (SSL_get_error(ssl_, rc) == SSL_ERROR_ZERO_RETURN) return 0;
    wait = Classify(rc, "TLS read");
    return -1;
}

int64_t TTlsStage::Write(const void* data, size_t len, TWait& wait) {
    wait = TWait::None;
    if (len == 0) return 0;
    ERR_clear_error();
    const int rc = SSL_write(ssl_, data, int(std::min<size_t>(len, INT_MAX)));
    if (rc > 0) return rc;
    wait = Classify(rc, "TLS write");
    return -1;
}

int TTlsStage::Pending() const {
    return SSL_pending(ssl_);
}

void TTlsStage::Shutdown() {
    if (!established_ || shutdownSent_) return;
    shutdownSent_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_); // one try: a full send buffer loses the alert, never the loop
    ERR_clear_error();
}

} // namespace nubo
