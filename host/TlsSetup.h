#pragma once
// The server's TLS as the settings file asks for it: the certificate pair is loaded,
// or made on the first start with TLS on, and what the operator must know is written
// as one line each.

#include <functional>
#include <memory>
#include <string>

#include "socket/TlsContext.h"
#include "store/Settings.h"

namespace nubo {

struct TTlsSetup {
    std::unique_ptr<TTlsContext> Context; // none: TLS is off
    bool Required = false;
};

// hostName names a certificate made here.
TTlsSetup SetUpTls(const TSettingsFile& file, const std::string& hostName,
                   const std::function<void(const std::string&)>& report);

} // namespace nubo
