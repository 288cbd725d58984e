// The server's TLS context against real files in a temporary folder and real handshakes
// over 127.0.0.1 with libssl clients made here.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "platform/UniqueFd.h"
#include "socket/OpenSslOwners.h"
#include "socket/TlsContext.h"
#include "tests/support/Loopback.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using nubo::test::ReadBytes;
using nubo::test::TTempDir;
using nubo::test::WriteBytes;

namespace {

constexpr char kHost[] = "nubo.test";

struct TPair {
    std::string cert, key;
};

TPair MakePair(const TTempDir& dir, const std::string& prefix = "", const std::string& host = kHost) {
    TPair pair{dir.File(prefix + "cert.pem"), dir.File(prefix + "key.pem")};
    std::string error;
    EXPECT_TRUE(CreateSelfSignedCertificate(pair.cert, pair.key, host, error)) << error;
    return pair;
}

std::unique_ptr<TTlsContext> LoadPair(const TPair& pair) {
    std::string error;
    auto ctx = TTlsContext::Load(pair.cert, pair.key, error);
    EXPECT_TRUE(ctx) << error;
    return ctx;
}

TX509 ReadCertificate(const std::string& path) {
    const std::string pem = ReadBytes(path);
    TBio bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    return TX509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

TPkey ReadKey(const std::string& path) {
    const std::string pem = ReadBytes(path);
    TBio bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    return TPkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

// The SHA-256 of the DER form, as `openssl x509 -fingerprint -sha256` prints it.
std::string DerFingerprint(X509* cert) {
    unsigned char* der = nullptr;
    const int len = i2d_X509(cert, &der);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLen = 0;
    EXPECT_EQ(EVP_Digest(der, size_t(len), md, &mdLen, EVP_sha256(), nullptr), 1);
    OPENSSL_free(der);
    std::string text;
    for (unsigned int i = 0; i < mdLen; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i ? ":%02X" : "%02X", md[i]);
        text += pair;
    }
    return text;
}

// 32 upper-case hex pairs joined by ':'.
bool IsFingerprintForm(const std::string& text) {
    if (text.size() != 32 * 3 - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (i % 3 == 2 ? c != ':' : !hex) return false;
    }
    return true;
}

std::string UtcNow() {
    char text[32];
    const time_t now = std::time(nullptr);
    struct tm tm {};
    gmtime_r(&now, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::set<std::string> FilesIn(const TTempDir& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Dir())) names.insert(entry.path().filename());
    return names;
}

int ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Both ends of a blocking TCP connection on 127.0.0.1; every read and write gives up
// after ten seconds, so that a test that goes wrong ends by itself.
std::pair<TUniqueFd, TUniqueFd> LoopbackPair() {
    std::signal(SIGPIPE, SIG_IGN);
    TUniqueFd listener(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    EXPECT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    EXPECT_EQ(::listen(listener.Get(), 1), 0);
    EXPECT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&sa), &len), 0);
    TUniqueFd client(nubo::test::ConnectLoopback(ntohs(sa.sin_port)));
    TUniqueFd server(::accept(listener.Get(), nullptr, nullptr));
    const timeval limit{10, 0};
    for (int fd : {client.Get(), server.Get()}) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    return {std::move(client), std::move(server)};
}

// A client context that trusts the test's certificate and checks the host name.
TSslCtx ClientContext(const std::string& trustedCert, const std::function<void(SSL_CTX*)>& setup = {}) {
    TSslCtx ctx(SSL_CTX_new(TLS_client_method()));
    EXPECT_EQ(SSL_CTX_load_verify_locations(ctx.get(), trustedCert.c_str(), nullptr), 1);
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_PEER, nullptr);
    if (setup) setup(ctx.get());
    return ctx;
}

using TSteps = std::function<void(SSL*)>;
constexpr char kGreeting[] = "220 ready";

void SendGreeting(SSL* ssl) {
    EXPECT_EQ(SSL_write(ssl, kGreeting, int(sizeof kGreeting - 1)), int(sizeof kGreeting - 1));
}

// Reading is also what lets TLS 1.3 session tickets in: they follow the handshake.
void ReadGreeting(SSL* ssl) {
    char buf[sizeof kGreeting] = {};
    int got = 0;
    while (got < int(sizeof kGreeting - 1)) {
        const int n = SSL_read(ssl, buf + got, int(sizeof kGreeting - 1) - got);
        ASSERT_GT(n, 0) << "the greeting did not arrive";
        got += n;
    }
    EXPECT_STREQ(buf, kGreeting);
}

// One connection as the server saw it, and the client's session afterwards.
struct TLink {
    bool accepted = false, connected = false;
    unsigned long serverError = 0; // the server's first library error when the handshake failed
    unsigned long clientError = 0;
    int version = 0;
    std::string cipher;
    bool reused = false;
    TSession session;
};

// A TLS connection between a server SSL of the context (in a thread) and a client SSL of
// clientCtx, offering a session when given. After the handshake each side runs its steps;
// the server then reads until the client has closed.
TLink RunLink(const TTlsContext& server, SSL_CTX* clientCtx, SSL_SESSION* offer = nullptr,
              const TSteps& serverSteps = SendGreeting, const TSteps& clientSteps = ReadGreeting) {
    auto [clientFd, serverFd] = LoopbackPair();
    TLink link;
    std::thread serverSide([&, fd = serverFd.Get()] {
        TSsl ssl(SSL_new(server.Native()));
        SSL_set_fd(ssl.get(), fd);
        if (SSL_accept(ssl.get()) == 1) {
            link.accepted = true;
            link.version = SSL_version(ssl.get());
            link.cipher = SSL_get_cipher_name(ssl.get());
            link.reused = SSL_session_reused(ssl.get()) == 1;
            serverSteps(ssl.get());
            char buf[256];
            while (SSL_read(ssl.get(), buf, sizeof buf) > 0) {
            }
            // A connection freed without its own close_notify takes its session out of the
            // server's cache, so a well-behaved server always answers the client's.
            SSL_shutdown(ssl.get());
        } else {
            link.serverError = ERR_peek_error();
        }
        ERR_clear_error();
    });
    TSsl ssl(SSL_new(clientCtx));
    SSL_set_fd(ssl.get(), clientFd.Get());
    SSL_set_tlsext_host_name(ssl.get(), kHost);
    SSL_set1_host(ssl.get(), kHost);
    if (offer != nullptr) SSL_set_session(ssl.get(), offer);
    if (SSL_connect(ssl.get()) == 1) {
        link.connected = true;
        clientSteps(ssl.get());
        link.session.reset(SSL_get1_session(ssl.get()));
        SSL_shutdown(ssl.get());
    } else {
        link.clientError = ERR_peek_error();
    }
    ERR_clear_error();
    ::shutdown(clientFd.Get(), SHUT_RDWR);
    serverSide.join();
    return link;
}

} // namespace

TEST(TlsContext, CreatedPairLoadsAndDescribesItsCertificate) {
    TTempDir dir;
    const std::string before = UtcNow();
    const TPair pair = MakePair(dir);
    const std::string after = UtcNow();
    EXPECT_EQ(ModeOf(pair.key), 0600);
    EXPECT_EQ(ModeOf(pair.cert), 0644);
    EXPECT_EQ(FilesIn(dir), (std::set<std::string>{"cert.pem", "key.pem"})) << "no temporary may stay behind";

    const auto ctx = LoadPair(pair);
    ASSERT_TRUE(ctx);
    ASSERT_NE(ctx->Native(), nullptr);
    const TCertificateInfo& info = ctx->Certificate();
    const TX509 cert = ReadCertificate(pair.cert);
    ASSERT_TRUE(cert);
    EXPECT_TRUE(IsFingerprintForm(info.Fingerprint)) << info.Fingerprint;
    EXPECT_EQ(info.Fingerprint, DerFingerprint(cert.get()));
    EXPECT_EQ(info.Subject, "CN=nubo.test");
    EXPECT_GE(info.NotBefore, before);
    EXPECT_LE(info.NotBefore, after);
    // Ten calendar years: the same moment, ten years on (only 29 February moves).
    ASSERT_EQ(info.NotAfter.size(), info.NotBefore.size());
    EXPECT_EQ(std::stoi(info.NotAfter.substr(0, 4)), std::stoi(info.NotBefore.substr(0, 4)) + 10);
    if (info.NotBefore.substr(5, 5) != "02-29") {
        EXPECT_EQ(info.NotAfter.substr(4), info.NotBefore.substr(4));
    }

    // What the certificate is made of.
    EXPECT_EQ(X509_get_signature_nid(cert.get()), NID_ecdsa_with_SHA256);
    char group[64] = {};
    EXPECT_EQ(EVP_PKEY_get_group_name(X509_get0_pubkey(cert.get()), group, sizeof group, nullptr), 1);
    EXPECT_STREQ(group, "prime256v1");
    EXPECT_EQ(X509_check_host(cert.get(), kHost, 0, 0, nullptr), 1) << "subjectAltName DNS";
    EXPECT_EQ(X509_get_extension_flags(cert.get()) & EXFLAG_CA, 0u);

    // Serials are random and positive; an IP address goes in as an IP address.
    const TPair byIp = MakePair(dir, "ip-", "127.0.0.1");
    const TX509 ipCert = ReadCertificate(byIp.cert);
    ASSERT_TRUE(ipCert);
    EXPECT_EQ(X509_check_ip_asc(ipCert.get(), "127.0.0.1", 0), 1);
    EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(cert.get()), X509_get0_serialNumber(ipCert.get())), 0);
    for (X509* c : {cert.get(), ipCert.get()}) EXPECT_EQ(X509_get0_serialNumber(c)->type, V_ASN1_INTEGER);
}

TEST(TlsContext, CreateFailsWithOneLineAndLeavesNoFileOfItsOwn) {
    struct TCase {
        const char* name;
        std::string cert, key, host;
        std::string existing; // a file there before, which must stay as it was
        std::string named;    // what the error must name
    };
    const TCase cases[] = {
        {"the certificate exists", "cert.pem", "key.pem", kHost, "cert.pem", "cert.pem"},
        {"the key exists", "cert.pem", "key.pem", kHost, "key.pem", "key.pem"},
        {"one file for both", "both.pem", "both.pem", kHost, "", "both.pem"},
        {"a host name with a blank", "cert.pem", "key.pem", "my host", "", "\"my host\""},
        {"a host name with a line break", "cert.pem", "key.pem", "a\nb", "", "\"a?b\""},
        {"the key's folder is missing", "cert.pem", "none/key.pem", kHost, "", "none/key.pem"},
        // The key is written first and must go again when its certificate cannot follow.
        {"the certificate's folder is missing", "none/cert.pem", "key.pem", kHost, "", "none/cert.pem"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TTempDir dir;
        if (!c.existing.empty()) dir.Write(c.existing, "keep me\n");
        std::string error;
        EXPECT_FALSE(CreateSelfSignedCertificate(dir.File(c.cert), dir.File(c.key), c.host, error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        if (c.existing.empty()) {
            EXPECT_TRUE(FilesIn(dir).empty());
        } else {
            EXPECT_EQ(FilesIn(dir), std::set<std::string>{c.existing});
            EXPECT_EQ(dir.Read(c.existing), "keep me\n");
        }
    }
}

TEST(TlsContext, LoadRefusesWithOneLineNamingTheFile) {
    TTempDir dir;
    const TPair pair = MakePair(dir);
    const TPair other = MakePair(dir, "other-");
    dir.Write("garbage.pem", "not a certificate\n");
    // A key protected by a passphrase: the server cannot ask for one, and must not prompt.
    {
        const TPkey key = ReadKey(pair.key);
        ASSERT_TRUE(key);
        TBio bio(BIO_new(BIO_s_mem()));
        static const char pass[] = "secret";
        ASSERT_EQ(PEM_write_bio_PrivateKey(bio.get(), key.get(), EVP_aes_256_cbc(),
                                           reinterpret_cast<const unsigned char*>(pass), int(sizeof pass - 1), nullptr,
                                           nullptr),
                  1);
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio.get(), &data);
        dir.Write("encrypted-key.pem", std::string(data, size_t(n)));
    }
    // A chain after the certificate whose second entry is damaged.
    dir.Write("damaged-chain.pem",
              ReadBytes(pair.cert) + "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n");

    struct TCase {
        const char* name;
        std::string cert, key, named;
    };
    const TCase cases[] = {
        {"missing certificate", dir.File("none.pem"), pair.key, dir.File("none.pem")},
        {"missing key", pair.cert, dir.File("none.pem"), dir.File("none.pem")},
        {"a folder as certificate", dir.Dir(), pair.key, dir.Dir()},
        {"garbage certificate", dir.File("garbage.pem"), pair.key, dir.File("garbage.pem")},
        {"garbage key", pair.cert, dir.File("garbage.pem"), dir.File("garbage.pem")},
        {"the certificate given as key", pair.cert, pair.cert,
         "The TLS key " + pair.cert + " holds no PEM private key"},
        {"key of another pair", pair.cert, other.key,
         "The TLS key " + other.key + " does not match the certificate " + pair.cert},
        {"key with a passphrase", pair.cert, dir.File("encrypted-key.pem"), dir.File("encrypted-key.pem")},
        {"damaged chain", dir.File("damaged-chain.pem"), pair.key, dir.File("damaged-chain.pem")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        EXPECT_EQ(TTlsContext::Load(c.cert, c.key, error), nullptr);
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(ERR_peek_error(), 0u) << "no stale library error is left for the next caller";
    }
}

TEST(TlsContext, HandshakesOnlyFromTls12InTheServersCipherOrder) {
    TTempDir dir;
    const TPair pair = MakePair(dir);
    const auto server = LoadPair(pair);
    ASSERT_TRUE(server);
    struct TCase {
        const char* name;
        std::function<void(SSL_CTX*)> setup;
        int version;        // 0: the handshake fails
        const char* cipher; // nullptr: any
    };
    const TCase cases[] = {
        {"a default client gets TLS 1.3 and a certificate it can verify", {}, TLS1_3_VERSION, nullptr},
        {"TLS 1.3 with the client preferring AES-128",
         [](SSL_CTX* c) { SSL_CTX_set_ciphersuites(c, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384"); },
         TLS1_3_VERSION, "TLS_AES_256_GCM_SHA384"},
        {"TLS 1.2 with the client preferring AES-128",
         [](SSL_CTX* c) {
             SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
             SSL_CTX_set_cipher_list(c, "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384");
         },
         TLS1_2_VERSION, "ECDHE-ECDSA-AES256-GCM-SHA384"},
        // Security level 0 lets this library still speak TLS 1.1, so the refusal is the server's.
        {"a client limited to TLS 1.1 is refused",
         [](SSL_CTX* c) {
             SSL_CTX_set_cipher_list(c, "DEFAULT:@SECLEVEL=0");
             SSL_CTX_set_min_proto_version(c, TLS1_1_VERSION);
             SSL_CTX_set_max_proto_version(c, TLS1_1_VERSION);
         },
         0, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TSslCtx client = ClientContext(pair.cert, c.setup);
        const TLink link = RunLink(*server, client.get());
        if (c.version == 0) {
            EXPECT_FALSE(link.accepted);
            EXPECT_FALSE(link.connected);
            EXPECT_EQ(ERR_GET_REASON(link.serverError), SSL_R_UNSUPPORTED_PROTOCOL)
                << ERR_reason_error_string(link.serverError);
            continue;
        }
        EXPECT_TRUE(link.accepted) << ERR_reason_error_string(link.serverError);
        EXPECT_TRUE(link.connected) << ERR_reason_error_string(link.clientError);
        EXPECT_EQ(link.version, c.version);
        if (c.cipher != nullptr) {
            EXPECT_EQ(link.cipher, c.cipher);
        }
    }
}

TEST(TlsContext, LaterConnectionsResumeTheFirstOnesSession) {
    TTempDir dir;
    const TPair pair = MakePair(dir);
    const auto server = LoadPair(pair);
    ASSERT_TRUE(server);
    struct TCase {
        const char* name;
        std::function<void(SSL_CTX*)> setup;
        bool ticket; // the client holds a ticket of the server's
    };
    const TCase cases[] = {
        {"TLS 1.3 ticket", {}, true},
        {"TLS 1.2 ticket", [](SSL_CTX* c) { SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION); }, true},
        {"TLS 1.2 session id from the server's cache",
         [](SSL_CTX* c) {
             SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
             SSL_CTX_set_options(c, SSL_OP_NO_TICKET);
         },
         false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TSslCtx client = ClientContext(pair.cert, c.setup);
        const TLink control = RunLink(*server, client.get());
        ASSERT_TRUE(control.connected && control.session);
        EXPECT_FALSE(control.reused);
        EXPECT_EQ(SSL_SESSION_has_ticket(control.session.get()) == 1, c.ticket);
        // Every data connection offers the control connection's session, not the last one's.
        for (int data = 1; data <= 2; ++data) {
            SCOPED_TRACE(data);
            const TLink link = RunLink(*server, client.get(), control.session.get());
            EXPECT_TRUE(link.accepted);
            EXPECT_TRUE(link.reused);
        }
    }
}

TEST(TlsContext, RenegotiationIsRefused) {
    TTempDir dir;
    const TPair pair = MakePair(dir);
    const auto server = LoadPair(pair);
    ASSERT_TRUE(server);
    // TLS 1.3 has no renegotiation; a TLS 1.2 client asks for one after the greeting.
    const TSslCtx client =
        ClientContext(pair.cert, [](SSL_CTX* c) { SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION); });
    int renegotiated = -1;
    unsigned long reason = 0;
    const TLink link = RunLink(*server, client.get(), nullptr, SendGreeting, [&](SSL* ssl) {
        ReadGreeting(ssl);
        ASSERT_EQ(SSL_renegotiate(ssl), 1);
        renegotiated = SSL_do_handshake(ssl);
        reason = ERR_peek_error();
    });
    ASSERT_TRUE(link.connected);
    EXPECT_LE(renegotiated, 0);
    EXPECT_EQ(ERR_GET_REASON(reason), SSL_R_NO_RENEGOTIATION) << ERR_reason_error_string(reason);
}

TEST(TlsContext, WritesInPartsAndRetriesFromABufferThatMoved) {
    TTempDir dir;
    const TPair pair = MakePair(dir);
    const auto server = LoadPair(pair);
    ASSERT_TRUE(server);
    const TSslCtx client = ClientContext(pair.cert);
    std::string payload(2 << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = char(i * 7 + i / 4096);
    std::atomic<bool> blocked{false};
    int partial = 0, movedRetries = 0;

    // The server writes from a non-blocking socket as the send path does: what is left is
    // a fresh copy at another address on every call, also on the retry of a blocked write.
    const auto serverSteps = [&](SSL* ssl) {
        const int fd = SSL_get_fd(ssl);
        const int small = 32 << 10;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        size_t done = 0;
        bool retry = false;
        std::unique_ptr<std::string> previous;
        while (done < payload.size()) {
            auto rest = std::make_unique<std::string>(payload.substr(done));
            const int n = SSL_write(ssl, rest->data(), int(rest->size()));
            if (n > 0) {
                if (size_t(n) < rest->size()) ++partial;
                if (retry) ++movedRetries;
                retry = false;
                done += size_t(n);
            } else {
                ASSERT_EQ(SSL_get_error(ssl, n), SSL_ERROR_WANT_WRITE) << ERR_reason_error_string(ERR_peek_error());
                retry = true;
                blocked = true;
                pollfd p{fd, POLLOUT, 0};
                ASSERT_EQ(::poll(&p, 1, 10000), 1) << "the client stopped reading";
            }
            previous = std::move(rest); // freed only after the next copy exists
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    };
    std::string received;
    const auto clientSteps = [&](SSL* ssl) {
        const int small = 32 << 10;
        ::setsockopt(SSL_get_fd(ssl), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        // Nothing is read until the server's socket is full.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!blocked && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::string buf(65536, '\0');
        while (received.size() < payload.size()) {
            const int n = SSL_read(ssl, buf.data(), int(buf.size()));
            ASSERT_GT(n, 0);
            received.append(buf.data(), size_t(n));
        }
    };
    const TLink link = RunLink(*server, client.get(), nullptr, serverSteps, clientSteps);
    ASSERT_TRUE(link.connected);
    EXPECT_TRUE(blocked);
    EXPECT_GT(partial, 0);
    EXPECT_GT(movedRetries, 0);
    EXPECT_TRUE(received == payload) << "received " << received.size() << " of " << payload.size() << " bytes";
}

TEST(TlsContext, SendsTheChainThatFollowsTheCertificate) {
    TTempDir dir;
    const TPair pair = MakePair(dir);
    const TPair issuer = MakePair(dir, "issuer-");
    dir.Write("fullchain.pem", ReadBytes(pair.cert) + ReadBytes(issuer.cert));
    const auto server = LoadPair({dir.File("fullchain.pem"), pair.key});
    ASSERT_TRUE(server);
    // The leaf describes the server, whatever follows it.
    EXPECT_EQ(server->Certificate().Fingerprint, DerFingerprint(ReadCertificate(pair.cert).get()));
    const TSslCtx client = ClientContext(pair.cert);
    int sent = 0;
    const TLink link = RunLink(*server, client.get(), nullptr, SendGreeting, [&](SSL* ssl) {
        ReadGreeting(ssl);
        sent = sk_X509_num(SSL_get_peer_cert_chain(ssl));
    });
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(sent, 2);
}
