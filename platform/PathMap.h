#pragma once
// Engine paths and the machine's paths. The engine and the host speak Windows-form
// paths (C:\srv\ftp\a.txt, folders with a trailing backslash); only the platform layer
// turns them into native ones, at the moment it touches the file system, so that no
// native path ever reaches a reply.
//
// Here drive C: is the native root "/": C:\srv\ftp\a.txt is /srv/ftp/a.txt. Any other
// drive, a UNC name (\\server\share), a path without a drive and a path holding a NUL
// byte name nothing.

#include <string>
#include <string_view>

namespace nubo {

// The native path of an engine path, or empty when it names nothing.
std::string NativePath(std::string_view enginePath);

// The engine form of a native path: /srv/ftp becomes C:\srv\ftp. A relative path is taken
// from the process's working folder; a path already in engine form is returned as it is.
std::string EnginePath(std::string_view nativePath);

// A path as a person reads it (monitor lists, log panes, log files, standard output):
// the native path of an engine path. A path that names nothing natively (another drive,
// a UNC name) and a path that is native already are shown as they are.
std::string DisplayPath(std::string_view path);

// The full form of an engine path: "." and ".." components resolved (never above the
// root), doubled separators collapsed, '/' written as '\'. A trailing separator stays.
// A path without a drive is taken relative to the process's working folder.
std::string ExpandFileName(std::string_view path);

} // namespace nubo
