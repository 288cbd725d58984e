#pragma once
// Socket error numbers of the whole system: the Windows socket numbering (10035
// would block, 10054 reset, 10061 refused, ...). The platform's errno values are
// mapped onto it here and nowhere else.

#include <stdexcept>
#include <string>

namespace nubo {

constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINVAL = 10022;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSANOTINITIALISED = 10093;

// errno -> socket error number; 0 stays 0, unknown values pass through unchanged.
int MapSystemError(int err);
// The socket error number of the system call that failed last (errno mapped).
int LastSysError();
// The description of a socket error number ("Not a WinSock error" when unknown).
std::string SocketErrorText(int code);
// "Error N in function Label" CR LF description.
std::string SocketErrorMessage(int code, const std::string& label);

class ESocketException : public std::runtime_error {
public:
    ESocketException(const std::string& msg, int code = 0) : std::runtime_error(msg), ErrorCode(code) {}
    int ErrorCode;
};

} // namespace nubo
