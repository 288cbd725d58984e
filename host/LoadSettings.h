#pragma once
// Applies the settings file to the server and to the in-memory settings, and prepares
// the program folder at start.

#include <string_view>

#include "engine/FtpServer.h"
#include "store/Settings.h"

namespace nubo {

// Reads AddDate, Log, Port, MaxUser, LowPASV, HighPASV and HideVersion, in this order.
// The passive range is LowPASV up to HighPASV - 1. An invalid range throws the
// server's ERangeError or FtpServerException at that step; the values after it keep
// what they held. A range that leaves the port space is refused as an invalid size.
void LoadSettings(const TSettingsFile& file, TFtpServer& server, TSettings& settings);

// Creates the folders "log" and "down" and, when missing, ftp_config.ini and
// ftp_users.ini with their first-start texts; nothing existing is touched.
// programDir ends with a separator. Throws EIniFileException or filesystem_error.
void CreateFirstStartFiles(std::string_view programDir);

} // namespace nubo
