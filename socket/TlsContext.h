#pragma once
// The server's TLS settings and certificate: one SSL_CTX shared by every connection of a
// server, and the self-signed certificate a fresh installation can make for itself.

#include <memory>
#include <openssl/ssl.h>
#include <string>

namespace nubo {

// What a certificate says, for the operator's log and the settings dialog.
struct TCertificateInfo {
    std::string Fingerprint;         // SHA-256 of the DER certificate, upper-case hex pairs joined by ':'
    std::string Subject;             // e.g. "CN=myhost"
    std::string NotBefore, NotAfter; // "YYYY-MM-DD HH:MM:SS UTC"
};

// Makes a self-signed certificate and its private key as PEM files: ECDSA P-256, subject and
// subjectAltName = hostName (an IP address goes in as one, anything else as a DNS name), valid
// from now for ten years, serial random, SHA-256 signature. The key file is 0600 from its first
// byte, the certificate 0644. Neither file replaces an existing one. Returns false and sets
// error to one readable line on any failure, leaving neither file behind.
bool CreateSelfSignedCertificate(const std::string& certPath, const std::string& keyPath, const std::string& hostName,
                                 std::string& error);

// The server side of TLS: TLS 1.2 to 1.3 with the library's default ciphers, no
// renegotiation, no compression, the server's cipher order, and sessions that later
// connections (FTP data connections) can resume, by session cache or ticket.
class TTlsContext {
public:
    // Loads the PEM pair; the certificate file may carry its chain after it. Returns nullptr
    // and sets error to one readable line naming the file when a file is missing, unreadable,
    // not PEM, or the key does not match the certificate.
    static std::unique_ptr<TTlsContext> Load(const std::string& certPath, const std::string& keyPath,
                                             std::string& error);
    ~TTlsContext();
    TTlsContext(const TTlsContext&) = delete;
    TTlsContext& operator=(const TTlsContext&) = delete;

    // For the socket layer's TLS stage: SSL_new(Native()) per connection.
    SSL_CTX* Native() const { return ctx_; }
    const TCertificateInfo& Certificate() const { return info_; }

private:
    TTlsContext(SSL_CTX* ctx, TCertificateInfo info) : ctx_(ctx), info_(std::move(info)) {}

    SSL_CTX* ctx_;
    TCertificateInfo info_;
};

} // namespace nubo
