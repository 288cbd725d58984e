#include "platform/PathMap.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <unistd.h>
#include <vector>

namespace nubo {

namespace {

bool IsSep(char c) {
    return c == '\\' || c == '/';
}

bool HasDrive(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]));
}

std::string WorkingFolder() {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return "/";
    return buf;
}

} // namespace

std::string NativePath(std::string_view enginePath) {
    if (!HasDrive(enginePath) || std::toupper(static_cast<unsigned char>(enginePath[0])) != 'C') return {};
    if (enginePath.find('\0') != std::string_view::npos) return {};
    std::string native(enginePath.substr(2));
    for (char& c : native)
        if (c == '\\') c = '/';
    // "C:" and "C:name" carry no folder of their own: they start at the root.
    if (native.empty() || native[0] != '/') native.insert(0, 1, '/');
    return native;
}

std::string DisplayPath(std::string_view path) {
    if (!HasDrive(path)) return std::string(path);
    std::string native = NativePath(path);
    return native.empty() ? std::string(path) : native;
}

std::string EnginePath(std::string_view nativePath) {
    if (HasDrive(nativePath)) return std::string(nativePath);
    std::string p(nativePath);
    if (p.empty() || p[0] != '/') p = WorkingFolder() + "/" + p;
    for (char& c : p)
        if (c == '/') c = '\\';
    return "C:" + p;
}

std::string ExpandFileName(std::string_view path) {
    std::string root;
    std::string_view rest;
    if (HasDrive(path)) {
        root = std::string(path.substr(0, 2)) + "\\";
        rest = path.substr(2);
    } else if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1])) {
        // \\server\share is the root of a UNC path; empty names between separators do not
        // count, so that the root comes out the same however often it is expanded.
        size_t pos = 2;
        root = "\\\\";
        for (int part = 0; part < 2; ++part) {
            const size_t start = path.find_first_not_of("\\/", pos);
            if (start == std::string_view::npos) {
                pos = path.size();
                break;
            }
            const size_t end = std::min(path.find_first_of("\\/", start), path.size());
            if (part > 0) root += "\\";
            root.append(path.substr(start, end - start));
            pos = end;
        }
        root += "\\";
        rest = path.substr(pos);
    } else if (!path.empty() && IsSep(path[0])) {
        root = EnginePath(WorkingFolder()).substr(0, 2) + "\\";
        rest = path;
    } else {
        return ExpandFileName(EnginePath(WorkingFolder()) + "\\" + std::string(path));
    }

    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i < rest.size()) {
        size_t j = i;
        while (j < rest.size() && !IsSep(rest[j])) ++j;
        std::string_view part = rest.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string full = root;
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) full += '\\';
        full.append(parts[k]);
    }
    if (!parts.empty() && !rest.empty() && IsSep(rest.back())) full += '\\';
    return full;
}

} // namespace nubo
