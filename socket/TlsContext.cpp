#include "socket/TlsContext.h"

#include <cctype>
#include <ctime>
#include <filesystem>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <system_error>
#include <vector>

#include "platform/FileIO.h"
#include "socket/OpenSslOwners.h"
#include "socket/TlsStage.h"

namespace nubo {

namespace {

// Key text passes through a string, wiped once done with (the library's own copies are its
// business).
struct TSecretText {
    std::string Bytes;
    ~TSecretText() { OPENSSL_cleanse(Bytes.data(), Bytes.size()); }
};

// The session id context every connection of the server shares, so that a data connection
// may resume the session of its control connection.
constexpr char kSessionIdContext[] = "nuboftpd";

// The reason of the library's last error ("unknown reason" when it gave none); the error
// queue is emptied, so that no stale error misleads the next caller on this thread.
std::string LibraryReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : "unknown reason";
}

std::string SystemReason(int err) {
    return std::generic_category().message(err);
}

// A name as it may appear in a one-line message: control bytes become '?'.
std::string Printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (std::iscntrl(static_cast<unsigned char>(c))) c = '?';
    return out;
}

// Refuses to ask for a passphrase (the library would otherwise prompt on the terminal) and
// notes that one was wanted.
int NoPassphrase(char*, int, int, void* asked) {
    *static_cast<bool*>(asked) = true;
    return -1;
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    return n > 0 ? std::string(data, size_t(n)) : std::string();
}

std::string FormatTime(const ASN1_TIME* t) {
    struct tm tm {};
    if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1) return "";
    char text[32];
    return std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm) > 0 ? text : "";
}

TCertificateInfo DescribeCertificate(X509* cert) {
    TCertificateInfo info;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) == 1) {
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < len; ++i) {
            if (i > 0) info.Fingerprint += ':';
            info.Fingerprint += kHex[md[i] >> 4];
            info.Fingerprint += kHex[md[i] & 15];
        }
    }
    // RFC 2253 order and escaping ("CN=host,O=org"), but UTF-8 left readable.
    TBio bio(BIO_new(BIO_s_mem()));
    if (bio &&
        X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0)
        info.Subject = BioText(bio.get());
    info.NotBefore = FormatTime(X509_get0_notBefore(cert));
    info.NotAfter = FormatTime(X509_get0_notAfter(cert));
    ERR_clear_error();
    return info;
}

// The settings every connection gets. False when the library refuses one.
bool Configure(SSL_CTX* ctx) {
    if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1) return false;
    if (SSL_CTX_set_max_proto_version(ctx, TLS1_3_VERSION) != 1) return false;
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Tickets carry resumption for clients that offer them; a system-wide configuration
    // must not take them away, or data connections could not resume.
    SSL_CTX_clear_options(ctx, SSL_OP_NO_TICKET);
    // The send path hands over what it can and retries from a buffer that may have moved;
    // buffers stay allocated, so that a busy connection does not allocate per record.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_clear_mode(ctx, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_SERVER);
    InstallSessionMarks(ctx);
    return SSL_CTX_set_session_id_context(ctx, reinterpret_cast<const unsigned char*>(kSessionIdContext),
                                          sizeof kSessionIdContext - 1) == 1;
}

bool IsIpAddress(const std::string& text) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(text.c_str());
    const bool isIp = ip != nullptr;
    ASN1_OCTET_STRING_free(ip);
    ERR_clear_error();
    return isIp;
}

// A host name a certificate can carry in its common name (at most 64 characters) and as a
// DNS name: letters, digits, '-', '.' and '_'. IP addresses are checked apart.
bool IsCertificateHostName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '.' && c != '_') return false;
    return true;
}

// The subjectAltName entry of the host: an IP address entry for an address, a DNS one otherwise.
bool AddSubjectAltName(X509* cert, const std::string& host) {
    TGeneralNames names(sk_GENERAL_NAME_new_null());
    GENERAL_NAME* entry = GENERAL_NAME_new();
    if (!names || entry == nullptr || sk_GENERAL_NAME_push(names.get(), entry) == 0) {
        GENERAL_NAME_free(entry);
        return false;
    }
    if (ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str())) {
        GENERAL_NAME_set0_value(entry, GEN_IPADD, ip);
    } else {
        ERR_clear_error();
        ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
        if (dns == nullptr || ASN1_STRING_set(dns, host.data(), int(host.size())) != 1) {
            ASN1_IA5STRING_free(dns);
            return false;
        }
        GENERAL_NAME_set0_value(entry, GEN_DNS, dns);
    }
    return X509_add1_ext_i2d(cert, NID_subject_alt_name, names.get(), 0, X509V3_ADD_DEFAULT) == 1;
}

// An extension of fixed text (no caller's text reaches the parser).
bool AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    const bool added = ext != nullptr && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return added;
}

// notAfter ten calendar years after now (29 February becomes 1 March in a common year), in
// the form the library turns into the time type RFC 5280 asks for.
std::string TenYearsLater(time_t now) {
    struct tm tm {};
    if (OPENSSL_gmtime(&now, &tm) == nullptr) return "";
    const int year = tm.tm_year + 1900 + 10;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (tm.tm_mon == 1 && tm.tm_mday == 29 && !leap) tm.tm_mon = 2, tm.tm_mday = 1;
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02dZ", year, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    return text;
}

// The key and certificate as PEM; false leaves the library's reason on the error queue.
bool MakeSelfSigned(const std::string& host, std::string& certPem, TSecretText& keyPem) {
    TPkeyCtx keyGen(EVP_PKEY_CTX_new_id(EVP_PKEY_EC, nullptr));
    EVP_PKEY* rawKey = nullptr;
    if (!keyGen || EVP_PKEY_keygen_init(keyGen.get()) <= 0 ||
        EVP_PKEY_CTX_set_ec_paramgen_curve_nid(keyGen.get(), NID_X9_62_prime256v1) <= 0 ||
        EVP_PKEY_keygen(keyGen.get(), &rawKey) <= 0)
        return false;
    TPkey key(rawKey);

    TX509 cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1) return false;
    // 159 random bits with the top one set: positive, never zero, at most 20 octets.
    TBignum serial(BN_new());
    if (!serial || BN_rand(serial.get(), 159, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) != 1 ||
        BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) == nullptr)
        return false;
    const time_t now = std::time(nullptr);
    const std::string notAfter = TenYearsLater(now);
    if (ASN1_TIME_set(X509_getm_notBefore(cert.get()), now) == nullptr ||
        ASN1_TIME_set_string_X509(X509_getm_notAfter(cert.get()), notAfter.c_str()) != 1)
        return false;
    X509_NAME* name = X509_get_subject_name(cert.get());
    if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(host.c_str()), -1,
                                   -1, 0) != 1 ||
        X509_set_issuer_name(cert.get(), name) != 1 || X509_set_pubkey(cert.get(), key.get()) != 1)
        return false;
    // A server certificate, not a CA; no key usage, which would keep verifiers from taking
    // it as its own issuer when a client trusts it directly.
    if (!AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !AddExtension(cert.get(), NID_subject_key_identifier, "hash") ||
        !AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") || !AddSubjectAltName(cert.get(), host))
        return false;
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return false;

    TBio certBio(BIO_new(BIO_s_mem()));
    // The secure memory BIO wipes the key's text when freed.
    TBio keyBio(BIO_new(BIO_s_secmem()));
    if (!certBio || !keyBio || PEM_write_bio_X509(certBio.get(), cert.get()) != 1 ||
        PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return false;
    certPem = BioText(certBio.get());
    keyPem.Bytes = BioText(keyBio.get());
    return true;
}

// Writes a new file only; false with error set when it exists or cannot be written.
bool WriteNewFile(const std::string& path, const std::string& what, std::string_view bytes, int mode,
                  std::string& error) {
    int err = 0;
    switch (WriteFileAtomically(path, bytes, true, err, mode)) {
    case TAtomicWrite::Written: return true;
    case TAtomicWrite::KeptExisting: error = "Will not replace the existing file " + Printable(path); return false;
    case TAtomicWrite::Failed: break;
    }
    error = "Cannot write the " + what + " " + Printable(path) + ": " + SystemReason(err);
    return false;
}

} // namespace

bool CreateSelfSignedCertificate(const std::string& certPath, const std::string& keyPath, const std::string& hostName,
                                 std::string& error) {
    if (certPath == keyPath) {
        error = "The TLS certificate and its key need two different files, not both " + Printable(certPath);
        return false;
    }
    if (!IsIpAddress(hostName) && !IsCertificateHostName(hostName)) {
        error = "Cannot make a certificate for the host name \"" + Printable(hostName) +
                "\": use letters, digits, '-', '.' and '_', at most 64, or an IP address";
        return false;
    }
    // Checked before any work, so that the usual case gets its own message; the writes
    // below still never replace a file that appears meanwhile.
    for (const std::string* path : {&keyPath, &certPath}) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(*path, ec))) {
            error = "Will not replace the existing file " + Printable(*path);
            return false;
        }
    }
    std::string certPem;
    TSecretText keyPem;
    if (!MakeSelfSigned(hostName, certPem, keyPem)) {
        error = "Cannot make the TLS certificate: " + LibraryReason();
        return false;
    }
    if (!WriteNewFile(keyPath, "TLS key", keyPem.Bytes, 0600, error)) return false;
    if (!WriteNewFile(certPath, "TLS certificate", certPem, 0644, error)) {
        // A key without its certificate is of no use; it was made just now by this call.
        std::error_code ec;
        std::filesystem::remove(keyPath, ec);
        return false;
    }
    return true;
}

std::unique_ptr<TTlsContext> TTlsContext::Load(const std::string& certPath, const std::string& keyPath,
                                               std::string& error) {
    auto failed = [&error](std::string text) {
        error = std::move(text);
        ERR_clear_error();
        return nullptr;
    };
    const std::string certName = "TLS certificate " + Printable(certPath);
    const std::string keyName = "TLS key " + Printable(keyPath);
    ERR_clear_error();

    std::string certPem;
    TSecretText keyPem;
    if (const int err = ReadWholeFile(certPath, certPem); err != 0)
        return failed("Cannot read the " + certName + ": " + SystemReason(err));
    if (const int err = ReadWholeFile(keyPath, keyPem.Bytes); err != 0)
        return failed("Cannot read the " + keyName + ": " + SystemReason(err));

    bool asked = false;
    TBio certBio(BIO_new_mem_buf(certPem.data(), int(certPem.size())));
    TX509 cert(certBio ? PEM_read_bio_X509(certBio.get(), nullptr, NoPassphrase, &asked) : nullptr);
    if (!cert) return failed("The " + certName + " holds no PEM certificate");
    // Certificates after the first are its chain, in the order the server sends them.
    std::vector<TX509> chain;
    while (X509* next = PEM_read_bio_X509(certBio.get(), nullptr, NoPassphrase, &asked)) chain.emplace_back(next);
    const unsigned long end = ERR_peek_last_error();
    if (ERR_GET_LIB(end) != ERR_LIB_PEM || ERR_GET_REASON(end) != PEM_R_NO_START_LINE)
        return failed("The chain after the first certificate in the " + certName + " is damaged");
    ERR_clear_error();

    TBio keyBio(BIO_new_mem_buf(keyPem.Bytes.data(), int(keyPem.Bytes.size())));
    asked = false;
    TPkey key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, NoPassphrase, &asked) : nullptr);
    if (!key && asked)
        return failed("The " + keyName + " is protected by a passphrase, which the server cannot ask for");
    if (!key) return failed("The " + keyName + " holds no PEM private key");
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        return failed("The " + keyName + " does not match the certificate " + Printable(certPath));

    TSslCtx ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx || !Configure(ctx.get())) return failed("Cannot set up TLS: " + LibraryReason());
    // The library judges the certificate here, e.g. a key too small for its security level.
    if (SSL_CTX_use_certificate(ctx.get(), cert.get()) != 1)
        return failed("The " + certName + " cannot be used: " + LibraryReason());
    for (const TX509& link : chain)
        if (SSL_CTX_add1_chain_cert(ctx.get(), link.get()) != 1)
            return failed("A chain certificate in the " + certName + " cannot be used: " + LibraryReason());
    if (SSL_CTX_use_PrivateKey(ctx.get(), key.get()) != 1 || SSL_CTX_check_private_key(ctx.get()) != 1)
        return failed("The " + keyName + " cannot be used: " + LibraryReason());

    error.clear();
    return std::unique_ptr<TTlsContext>(new TTlsContext(ctx.release(), DescribeCertificate(cert.get())));
}

TTlsContext::~TTlsContext() {
    SSL_CTX_free(ctx_);
}

} // namespace nubo
