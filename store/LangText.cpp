#include "store/LangText.h"

#include "store/IniFile.h"

namespace nubo {

std::string FormatText(std::string_view text, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size() && (text[i + 1] == 's' || text[i + 1] == 'S')) {
            if (next != args.end()) out += *next++;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string TLangTexts::Lookup(std::string_view stem, std::string_view key, std::string_view def) const {
    const TIniFile file(dir_ + std::string(stem) + std::string(kLangFileExt));
    std::string text = file.ReadString(kLangSection, key, "");
    return text.empty() ? std::string(def) : text;
}

std::string TLangTexts::LangText(std::string_view key, std::string_view def) const {
    return Lookup(langSpec_, key, def);
}

std::string TLangTexts::LangTextPlain(std::string_view key, std::string_view def) const {
    return Lookup("", key, def);
}

} // namespace nubo
