#pragma once
// The code a command handler records in its connection (LastCommandCode): the data side
// and the host read it to tell the transfer commands apart. The numbers are part of the
// connection's published state and stay as they are; 19 is unused.

#include <cstdint>

namespace nubo {

enum class TFtpCommandCode : uint8_t {
    Port = 0,
    Stor = 1,
    Retr = 2,
    Cwd = 3,
    Xpwd = 4,
    Pwd = 5,
    User = 6,
    Pass = 7,
    List = 8,
    Rmd = 9,
    Type = 10,
    Syst = 11,
    Quit = 12,
    Dele = 13,
    Rnfr = 14,
    Mkd = 15,
    Rnto = 16,
    Noop = 17,
    Nlst = 18,
    Cdup = 20,
    Size = 21,
    Rest = 22,
    Appe = 23,
    Stru = 24,
    Mdtm = 25,
    Stou = 26,
    Feat = 27,
    Mlst = 28,
    Mlsd = 29,
    Mfmt = 30,
    Md5 = 31,
    Auth = 32,
    Pbsz = 33,
    Prot = 34,
    Ccc = 35,
    Opts = 36,
    Help = 37,
    Hash = 38,
    Xsha256 = 39,
    Xsha1 = 40,
    Xmd5 = 41,
    Xcrc = 42,
};

} // namespace nubo
