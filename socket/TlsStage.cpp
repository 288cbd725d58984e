#include "socket/TlsStage.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>

#include "socket/SocketErrors.h"

namespace nubo {

namespace {

// Bytes a data connection reads at once: about sixteen full records.
constexpr size_t kDataReadBuffer = 256 * 1024;

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

// Where a connection's state keeps its stage, for the ticket callback.
int StageIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

void SetMark(SSL_SESSION* session, const std::string& mark) {
    if (session) SSL_SESSION_set1_ticket_appdata(session, mark.data(), mark.size());
}

// Tickets decrypted as the library would decide by itself.
SSL_TICKET_RETURN DecideTicket(SSL*, SSL_SESSION*, const unsigned char*, size_t, SSL_TICKET_STATUS status, void*) {
    switch (status) {
    case SSL_TICKET_SUCCESS: return SSL_TICKET_RETURN_USE;
    case SSL_TICKET_SUCCESS_RENEW: return SSL_TICKET_RETURN_USE_RENEW;
    case SSL_TICKET_EMPTY:
    case SSL_TICKET_NO_DECRYPT:
    case SSL_TICKET_NONE: return SSL_TICKET_RETURN_IGNORE_RENEW;
    default: return SSL_TICKET_RETURN_ABORT;
    }
}

std::string RandomMark() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw ESocketException("TLS: no random bytes for a session", WSAEINVAL);
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

} // namespace

int MarkTicket(SSL* ssl, void*) {
    if (auto* stage = static_cast<TTlsStage*>(SSL_get_ex_data(ssl, StageIndex())))
        SetMark(SSL_get_session(ssl), stage->mark_);
    return 1;
}

void InstallSessionMarks(SSL_CTX* ctx) {
    SSL_CTX_set_session_ticket_cb(ctx, MarkTicket, DecideTicket, nullptr);
}

TTlsStage::TTlsStage(SSL_CTX* ctx, int fd, std::string sessionMark)
    : mark_(sessionMark.empty() ? RandomMark() : sessionMark) {
    ssl_ = ctx ? SSL_new(ctx) : nullptr;
    if (!ssl_ || SSL_set_fd(ssl_, fd) != 1 || SSL_set_ex_data(ssl_, StageIndex(), this) != 1) {
        if (ssl_) SSL_free(ssl_);
        ERR_clear_error();
        throw ESocketException("TLS: cannot make the connection's state", WSAEINVAL);
    }
    // An upload ends with the peer's close; clients that skip the close alert still
    // end it in order, and the transfer's own length checks stay with the caller.
    SSL_set_options(ssl_, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (!sessionMark.empty()) {
        SSL_set_num_tickets(ssl_, 0);
        // A data connection reads many records per system call, not a header and a body
        // for each; the control connection's few bytes keep the small default buffer.
        SSL_set_read_ahead(ssl_, 1);
        SSL_set_default_read_buffer_len(ssl_, kDataReadBuffer);
    }
    SSL_set_accept_state(ssl_);
}

TTlsStage::~TTlsStage() {
    // A connection dropped without its close alert would take its session out of the
    // cache, and with it the resumption of the data connections still to come.
    if (established_) SSL_set_shutdown(ssl_, SSL_SENT_SHUTDOWN);
    SSL_free(ssl_);
}

std::string TTlsStage::Description() const {
    if (!established_) return "";
    return std::string(SSL_get_version(ssl_)) + ", " + SSL_get_cipher_name(ssl_);
}

bool TTlsStage::ResumedWith(const std::string& mark) const {
    if (!established_ || !SSL_session_reused(ssl_)) return false;
    void* data = nullptr;
    size_t len = 0;
    if (SSL_SESSION_get0_ticket_appdata(SSL_get0_session(ssl_), &data, &len) != 1 || !data) return false;
    return std::string(static_cast<const char*>(data), len) == mark;
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
        // A session cached by id carries the mark too (tickets got it when made).
        if (!SSL_session_reused(ssl_)) SetMark(SSL_get_session(ssl_), mark_);
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
    starved_ = false;
    if (rc > 0) return rc;
    if (SSL_get_error(ssl_, rc) == SSL_ERROR_ZERO_RETURN) return 0;
    wait = Classify(rc, "TLS read");
    starved_ = wait == TWait::Read;
    return -1;
}

// In partial-write mode one call takes one record: the loop goes on until everything is
// taken or the socket is full, so that one round of the event loop sends a whole block.
int64_t TTlsStage::Write(const void* data, size_t len, TWait& wait) {
    wait = TWait::None;
    const char* p = static_cast<const char*>(data);
    size_t taken = 0;
    while (taken < len) {
        ERR_clear_error();
        const int rc = SSL_write(ssl_, p + taken, int(std::min<size_t>(len - taken, INT_MAX)));
        if (rc <= 0) {
            // What was taken counts; a failure shows again at the next call.
            const TWait w = Classify(rc, "TLS write");
            if (taken > 0) return int64_t(taken);
            wait = w;
            return -1;
        }
        taken += size_t(rc);
    }
    return int64_t(taken);
}

int TTlsStage::Pending() const {
    return SSL_pending(ssl_);
}

// Read-ahead may hold whole records that no readiness of the descriptor will announce;
// a part of a record that a read found too short waits for the descriptor instead.
bool TTlsStage::Buffered() const {
    return established_ && (SSL_pending(ssl_) > 0 || (!starved_ && SSL_has_pending(ssl_) == 1));
}

void TTlsStage::Shutdown() {
    if (!established_ || shutdownSent_) return;
    shutdownSent_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_); // one try: a full send buffer loses the alert, never the loop
    ERR_clear_error();
}

} // namespace nubo
