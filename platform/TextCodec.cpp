#include "platform/TextCodec.h"

#include <cerrno>
#include <iconv.h>

namespace nubo {

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            const unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

namespace {

class TIconv {
public:
    TIconv() : cd_(iconv_open("UTF-8", "CP949")) {}
    ~TIconv() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Handle() const { return cd_; }

private:
    iconv_t cd_;
};

} // namespace

std::string DecodeStoredText(std::string_view bytes) {
    if (IsValidUtf8(bytes)) return std::string(bytes);
    TIconv cv;
    std::string out;
    if (!cv.Ok()) {
        // No converter on this system: keep ASCII, mark the rest.
        for (unsigned char c : bytes) out += c < 0x80 ? std::string(1, char(c)) : "\xEF\xBF\xBD";
        return out;
    }
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buf[4096];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(cv.Handle(), &in, &inLeft, &o, &oLeft);
        out.append(buf, o - buf);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            // An unmappable or truncated sequence: one replacement character per byte.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
            iconv(cv.Handle(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

bool Cp949ToUtf8(std::string_view bytes, std::string& out) {
    TIconv cv;
    if (!cv.Ok()) return false;
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    std::string text;
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t r = iconv(cv.Handle(), &in, &inLeft, &o, &oLeft);
        text.append(buf, size_t(o - buf));
        // An unmappable or truncated sequence: the bytes are not CP949.
        if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    out = std::move(text);
    return true;
}

} // namespace nubo
