// The configuration file that names the server, the server base URL, and the
// program file's version.
#pragma once

#include <string>

// The address used when the file, its section or its key is missing. It
// already carries the port.
inline constexpr char DefaultServerHost[] = "http://127.0.0.1:8041";
// Appended to a configured server address to form the base URL.
inline constexpr char ServerPort[] = ":8041";

// The server address as read from a program's configuration file.
struct SServerHost {
    std::string Value;
    bool IsDefault = false; // the file, section or key was missing
};

// Full path of the running program file ("" when it cannot be told).
std::string GetProgramFilePath();

// "Conf/Tarvo.conf" in the parent folder of the folder of `programPath`.
std::string GetConfFilePath(const std::string& programPath);

// Key "TarvoSWHost" of section "default" of the configuration file of
// `programPath`, read anew on each call. Section and key names match without
// regard to case; the value is the text after the first "=", blanks removed
// around it, then one pair of enclosing double or single quotes; at most 2047
// characters. A key with nothing after "=" yields the empty text.
SServerHost ReadServerHost(const std::string& programPath);

// The configured server address of the running program, or DefaultServerHost.
std::string GetServerHost();
std::string GetServerHost(const std::string& programPath);

// The base URL every server call is made against: the configured address
// followed by ":8041"; an empty configured address stays empty; without a
// configured address, DefaultServerHost as it is.
std::string GetServerBaseUrl();
std::string GetServerBaseUrl(const std::string& programPath);

// The version note of the file as four decimal numbers joined by "." (e.g.
// "1.0.0.1"); the empty text for a file without one.
std::string GetExeVersion(const std::string& path);
