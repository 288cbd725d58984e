#include "host/TlsSetup.h"

#include <filesystem>

namespace nubo {

TTlsSetup SetUpTls(const TSettingsFile& file, const std::string& hostName,
                   const std::function<void(const std::string&)>& report) {
    TTlsSetup setup;
    const int64_t mode = file.Encryption();
    if (mode != 1 && mode != 2) return setup;
    const std::string cert = file.TlsCertificatePath();
    const std::string key = file.TlsKeyPath();
    std::error_code ec;
    std::string error;
    if (!std::filesystem::exists(cert, ec) && !std::filesystem::exists(key, ec)) {
        if (!CreateSelfSignedCertificate(cert, key, hostName, error)) {
            report(error + " TLS stays off.");
            return setup;
        }
        report("A self-signed TLS certificate for " + hostName + " was made: " + cert + ".");
    }
    setup.Context = TTlsContext::Load(cert, key, error);
    if (!setup.Context) {
        report(error + " TLS stays off.");
        return setup;
    }
    setup.Required = mode == 2;
    const TCertificateInfo& info = setup.Context->Certificate();
    report(std::string(setup.Required ? "TLS is required" : "TLS is offered") + " with the certificate " +
           info.Subject + ", valid until " + info.NotAfter + ", SHA-256 fingerprint " + info.Fingerprint + ".");
    return setup;
}

} // namespace nubo
