#pragma once
// The TLS stage of one socket: the server side of a TLS connection on the socket's own
// descriptor, non-blocking. The socket sends, receives and closes through it once it
// exists; a clear socket has none and pays nothing for it.

#include <cstddef>
#include <cstdint>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace nubo {

// Marks every session that a stage's connection makes (its tickets, its cached session)
// with the stage's session mark, so that a later connection can prove that it resumed
// this one's session. Once for each context.
void InstallSessionMarks(SSL_CTX* ctx);

class TTlsStage {
public:
    // Throws ESocketException when the library cannot make the connection's state.
    // sessionMark: the mark its sessions carry; empty: a new random one. A stage given
    // another connection's mark (a data connection) issues no tickets of its own: an
    // upload's client never reads them, and unread bytes turn its close into a reset
    // that can cost the upload its last bytes.
    TTlsStage(SSL_CTX* ctx, int fd, std::string sessionMark = {});
    ~TTlsStage();
    TTlsStage(const TTlsStage&) = delete;
    TTlsStage& operator=(const TTlsStage&) = delete;

    // What an operation needs before it can go on.
    enum class TWait { None, Read, Write };

    // Drives the handshake: true once it is complete. On false, wait says what the
    // handshake waits for; TWait::None means it failed (Error() says why).
    bool Handshake(TWait& wait);
    bool Established() const { return established_; }

    // Decrypted bytes: > 0 read, 0 the peer ended the connection, -1 nothing now (wait
    // set) or a failure (wait None, Error() says why).
    int Read(void* buf, int size, TWait& wait);
    // Plaintext taken: > 0, or -1 with wait as for Read. A write that waited must be
    // repeated with at least as many bytes.
    int64_t Write(const void* data, size_t len, TWait& wait);
    // Decrypted bytes held inside the stage that the descriptor no longer signals.
    int Pending() const;
    // Bytes held inside the stage, decrypted or not yet, that a read can deliver without
    // the descriptor: the owner must read again on its own.
    bool Buffered() const;
    // Sends the close alert once, without waiting for the peer's.
    void Shutdown();
    const std::string& Error() const { return error_; }
    const std::string& SessionMark() const { return mark_; }
    // The protocol version and cipher of an established connection ("TLSv1.3, TLS_AES_...").
    std::string Description() const;
    // The handshake resumed a session that carries this mark.
    bool ResumedWith(const std::string& mark) const;
    SSL* Native() const { return ssl_; }

private:
    TWait Classify(int rc, const char* what);

    SSL* ssl_ = nullptr;
    bool established_ = false;
    bool shutdownSent_ = false;
    bool starved_ = false; // the last read waited for the descriptor
    std::string error_;
    std::string mark_;

    friend int MarkTicket(SSL* ssl, void*);
};

} // namespace nubo
