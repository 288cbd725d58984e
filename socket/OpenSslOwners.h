#pragma once
// Owners of the TLS library's objects, each freed by the library's own function.

#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace nubo {

template <auto Free> struct TFreeWith {
    template <class T> void operator()(T* p) const { Free(p); }
};
using TBio = std::unique_ptr<BIO, TFreeWith<BIO_free>>;
using TX509 = std::unique_ptr<X509, TFreeWith<X509_free>>;
using TPkey = std::unique_ptr<EVP_PKEY, TFreeWith<EVP_PKEY_free>>;
using TPkeyCtx = std::unique_ptr<EVP_PKEY_CTX, TFreeWith<EVP_PKEY_CTX_free>>;
using TBignum = std::unique_ptr<BIGNUM, TFreeWith<BN_free>>;
using TSsl = std::unique_ptr<SSL, TFreeWith<SSL_free>>;
using TSslCtx = std::unique_ptr<SSL_CTX, TFreeWith<SSL_CTX_free>>;
using TSession = std::unique_ptr<SSL_SESSION, TFreeWith<SSL_SESSION_free>>;
using TGeneralNames = std::unique_ptr<GENERAL_NAMES, TFreeWith<GENERAL_NAMES_free>>;
using TBasicConstraints = std::unique_ptr<BASIC_CONSTRAINTS, TFreeWith<BASIC_CONSTRAINTS_free>>;

} // namespace nubo
