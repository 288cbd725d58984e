#pragma once
// Message texts: looked up by key in the operator's language file (section "LANGFILE"),
// with a built-in default for every key. The file is read afresh for every lookup.

#include <initializer_list>
#include <string>
#include <string_view>

namespace nubo {

struct TLangKey {
    std::string_view Key;
    std::string_view Default;
};

// clang-format off
inline constexpr TLangKey sRetrStart{"sRetrStart", "%s: Download 시작 %s"};
inline constexpr TLangKey sRetrRes{"sRetrRes", "%S: Download, Resume of: %S At: %S bytes"};
inline constexpr TLangKey sRetrOK{"sRetrOK", "%S: File Downloaded 성공: %S"};
inline constexpr TLangKey sRetrFail{"sRetrFail", "%S: Download 실패 %S"};
inline constexpr TLangKey sStorStart{"sStorStart", "%s: Upload 시작 %s"};
inline constexpr TLangKey sStorRes{"sStorRes", "%S: Upload, Resume of: %S At: %S bytes"};
inline constexpr TLangKey sStorOK{"sStorOK", "%s: File Uploaded 성공: %s"};
inline constexpr TLangKey sStorFail{"sStorFail", "%S: Upload 실패 %s"};
inline constexpr TLangKey sAuthFail{"sAuthFail", "Authentification Fail: User %s IP: %s"};
inline constexpr TLangKey sAuthFailP{"sAuthFailP", "Wrong Password: User %s IP: %s"};
inline constexpr TLangKey sChangeUser{"sChangeUser", "Change Username for: "};
inline constexpr TLangKey sConnected{"sConnected", "User %s Connected"};
inline constexpr TLangKey sConnectTo{"sConnectTo", "Connect to %s."};
inline constexpr TLangKey sDisconnect{"sDisconnect", "Client %s, %s Disconnected"};
inline constexpr TLangKey sRepNow{"sRepNow", "%s: 접근 Directory: %s"};
inline constexpr TLangKey sTooManyUser{"sTooManyUser", "Too Many User Connected of this Login: %S IP: %S"};
inline constexpr TLangKey sFDel{"sFDel", "%S: File Delete: %s"};
inline constexpr TLangKey sRFile{"sRFile", "%S: File 이름변경: %s"};
inline constexpr TLangKey sSerStart{"sSerStart", "서버가 시작되었습니다."};
inline constexpr TLangKey sSerStop{"sSerStop", "서버가 중지되었습니다."};
inline constexpr TLangKey sSrvShutDown{"sSrvShutDown", "서버가 중지되었습니다."};
inline constexpr TLangKey sFTPPort{"sFTPPort", "FTP Port:"};
inline constexpr TLangKey sNoPort{"sNoPort", "이미 사용중인 포트입니다. 다른 포트로 설정해주세요."};
inline constexpr TLangKey sNotStart{"sNotStart", "Server not started."};
inline constexpr TLangKey sUser{"sUser", "Users"};
inline constexpr TLangKey sNoUser{"sNoUser", "No Users"};
inline constexpr TLangKey sFTP{"sFTP", "Nubo FTP Server"};
inline constexpr TLangKey sDown{"sDown", "Down"};
inline constexpr TLangKey sUP{"sUP", "Up"};
inline constexpr TLangKey sNoTrans{"sNoTrans", "대기중"};
inline constexpr TLangKey sNoFile{"sNoFile", "No File"};
inline constexpr TLangKey sNoID{"sNoID", "선택된 ID 없음"};
inline constexpr TLangKey sTimeOutDisc{"sTimeOutDisc", "Connection Time-Out For: "};
inline constexpr TLangKey sSetupFormClose{"sSetupFormClose", "변경된 내용을 적용하기 위해서는 재시작 하십시요."};
inline constexpr TLangKey sVersion{"sVersion", "Nubo FTP Server Version %s"};
inline constexpr TLangKey sVersion2{"sVersion2", "Nubo FTP Server: an FTP server with an administration console."};
// clang-format on

inline constexpr TLangKey kLangKeys[] = {
    sAuthFail,    sAuthFailP,      sChangeUser, sConnected, sConnectTo,   sDisconnect, sRepNow,    sTooManyUser,
    sFDel,        sRFile,          sRetrStart,  sRetrRes,   sRetrOK,      sRetrFail,   sStorStart, sStorRes,
    sStorOK,      sStorFail,       sSerStart,   sSerStop,   sSrvShutDown, sFTPPort,    sNoPort,    sNotStart,
    sUser,        sNoUser,         sFTP,        sDown,      sUP,          sNoTrans,    sNoFile,    sNoID,
    sTimeOutDisc, sSetupFormClose, sVersion,    sVersion2};

inline constexpr std::string_view kLangSection = "LANGFILE";
inline constexpr std::string_view kLangFileExt = ".lng";

// "%s" and "%S" each take the next argument. A text written by an operator may not
// fit its arguments: surplus arguments are dropped, missing ones are empty, and any
// other "%" sequence is kept as it stands.
std::string FormatText(std::string_view text, std::initializer_list<std::string_view> args);

class TLangTexts {
public:
    // programDir: the folder of the language files, with its trailing separator.
    explicit TLangTexts(std::string programDir) : dir_(std::move(programDir)) {}

    // The stem of the language file's name, as read from the settings.
    void SetLangSpec(std::string stem) { langSpec_ = std::move(stem); }
    const std::string& LangSpec() const { return langSpec_; }

    // The text of key in the file of the current stem; def when the file or key is
    // missing or the value empty.
    std::string LangText(std::string_view key, std::string_view def) const;
    std::string LangText(const TLangKey& k) const { return LangText(k.Key, k.Default); }
    // The same lookup in the file named ".lng", whatever the stem.
    std::string LangTextPlain(std::string_view key, std::string_view def) const;
    std::string LangTextPlain(const TLangKey& k) const { return LangTextPlain(k.Key, k.Default); }

private:
    std::string Lookup(std::string_view stem, std::string_view key, std::string_view def) const;
    std::string dir_;
    std::string langSpec_;
};

} // namespace nubo
