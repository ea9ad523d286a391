// netvane's general utility functions: text handling, Chinese text
// conversion, random text, time spans, files, a per-user value store in the
// role of the registry, processes and script evaluation.
//
// Texts are byte strings in GBK, passed and returned by value. C-string
// parameters are zero-terminated texts; a null pointer is taken as "none"
// and never crashes. No function throws.
#pragma once

#include "NetvaneApi.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Funclib {

using TStrArr = std::vector<std::string>;

// Root keys of the value store, by their usual handle values.
inline constexpr std::uint32_t HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr std::uint32_t HKEY_CURRENT_USER = 0x80000001u;
inline constexpr std::uint32_t HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr std::uint32_t HKEY_USERS = 0x80000003u;
inline constexpr std::uint32_t HKEY_CURRENT_CONFIG = 0x80000005u;

// ---- Text ----

// Same rules as THTTP::GetSubStr and THTTP::GetSubStrEx.
NETVANE_API std::string GetSubStr(const std::string& text, const std::string& startMark,
                                  const std::string& endMark);
NETVANE_API std::string GetSubStrEx(const std::string& text, const std::string& startMark,
                                    const std::string& endMark, std::string& rest);
// Splits `text` at `separator` into `out`; stops at the first empty piece.
// Returns the number of pieces.
NETVANE_API std::int32_t SplitStrArr(const std::string& separator, const std::string& text,
                                     TStrArr& out);
// True when one of the non-empty texts items[0..highIndex] occurs in `text`.
NETVANE_API bool StrIsIn(const std::string* items, std::int32_t highIndex, const std::string& text);
// Drops one leading CR LF, then folds every run of blank lines to one CR LF.
NETVANE_API std::string TrimMultiCRLF(const std::string& text);
NETVANE_API std::string XmlEntitiesEnc(const std::string& text);
NETVANE_API std::string JavaScriptEscape(const std::string& text);
// Hexadecimal text deciphered with the library's fixed 8-byte key.
NETVANE_API std::string StrDec(const std::string& hexText);
// `value` with `digits` decimals, truncated (not rounded): 1.5, 2 -> "1.50".
NETVANE_API std::string FloatToStr2(double value, std::int32_t digits);
// "1023 B", "1.50 KB", "2.00 MB", "1.00 GB".
NETVANE_API std::string GetSizeKMG(std::uint64_t size);
// "1天1小时1分1秒" (GBK), non-zero parts only; empty below one second.
NETVANE_API std::string MSecondToTimeStr(std::uint32_t ms);
// Writes `text` as one line to netvane's debug channel (see OutDebug in
// WinHttpClass.h for where it goes), with no error code appended.
NETVANE_API void OutDebug(const std::string& text);

// ---- Chinese text conversion (GBK in and out) ----

// Simplified -> Traditional and back, character by character. Characters
// with no GBK form become "?". Empty text when the tables cannot be loaded.
NETVANE_API std::string Chs2Cht(const std::string& text);
NETVANE_API std::string Cht2Chs(const std::string& text);
// GBK -> Big5 and Big5 -> GBK ("?" for characters the target lacks).
NETVANE_API std::string BIG5Encode(const std::string& text);
NETVANE_API std::string BIG5Decode(const std::string& text);

// ---- Random text ----

// minLen..maxLen characters from a fixed alphabet of lower-case letters and
// digits; the first and last are letters. maxLen < minLen gives minLen.
NETVANE_API std::string RandStr(std::uint16_t minLen, std::uint16_t maxLen);
// Between minChars and maxChars GB2312 hanzi (2 bytes each) in a fixed
// sequence that successive calls continue.
NETVANE_API std::string RandGBString(std::int32_t minChars, std::int32_t maxChars);

// ---- Time ----

// Microseconds of the monotonic clock, low 32 bits.
NETVANE_API std::uint32_t GetTickCountUSec();
// newTick - oldTick, or 0xFFFFFFFF - oldTick + newTick after a wrap.
NETVANE_API std::uint32_t DiffTickCount(std::uint32_t oldTick, std::uint32_t newTick);

// ---- Files and modules ----

// Major number of the program file's version note; 0 without one.
NETVANE_API std::uint16_t GetFileVersion(const std::string& path);
// Size of the first regular file matching `path` (shell wildcards * ? [..]);
// 0 when none.
NETVANE_API std::uint64_t GetFileSize(const std::string& path);
// Folder, with a trailing "/", of a loaded module: the running program when
// `module` is 0 and `moduleName` is null, else the loaded shared object of
// that name (a full path, a file name such as "libnetvane.so.1", or a name
// without ".so..."). Module handles are not 32-bit values here: a non-zero
// `module` gives empty text, as does a name that is not loaded.
NETVANE_API std::string GetModulePath(std::uint32_t module, const char* moduleName);
// Copies a file or a whole folder tree, overwriting. When `to` is an existing
// folder the copy goes inside it. False on any error (never throws).
NETVANE_API bool CopyFileAndDir(const std::string& from, const std::string& to);
// Deletes a file or a whole folder tree, permanently. False when nothing was
// there or it could not all be deleted.
NETVANE_API bool DelFileAndDir(const std::string& path);

// ---- Value store (the registry's role) ----
//
// Per-user, under $XDG_CONFIG_HOME/netvane/ (default ~/.config/netvane/).
// `subKey` is a path with "\" separators; key and value names compare without
// regard to ASCII case. A null `subKey` is the root key itself, a null
// `valueName` the key's default value. Writes are atomic.

// A string value up to its first NUL; empty when missing, not a string or
// longer than 260 bytes.
NETVANE_API std::string RegReadStr(std::uint32_t root, const char* subKey, const char* valueName);
// A 32-bit value; 0 when missing or not a 32-bit value.
NETVANE_API std::int32_t RegReadInt(std::uint32_t root, const char* subKey, const char* valueName);
// Creates the key when missing and stores the value (a null `value` is "").
NETVANE_API bool RegWriteStr(std::uint32_t root, const char* subKey, const char* valueName,
                             const char* value);
NETVANE_API bool RegWriteInt(std::uint32_t root, const char* subKey, const char* valueName,
                             std::int32_t value);
// False when the key or the value does not exist.
NETVANE_API bool RegDelValue(std::uint32_t root, const char* subKey, const char* valueName);

// ---- Processes, privileges, desktops, input, scripts ----

// Starts `commandLine` (split as a shell splits words: quotes and backslash
// escapes, no expansion; the program is searched in PATH) and waits up to
// `timeoutMs` ms (0xFFFFFFFF: no limit) for it to end. Returns its process
// id, 0 when it cannot be started. The process keeps running after a timeout
// and is reaped when it ends. `showMode` has no effect here.
NETVANE_API std::uint32_t WaitForExec(const std::string& commandLine, std::uint32_t timeoutMs,
                                      std::uint32_t showMode);
// This platform has no access-token privileges or desktops: always false.
NETVANE_API bool SetPrivilege(const char* privilegeName);
NETVANE_API bool SelectDesktop(const char* desktopName);
NETVANE_API bool InputDesktopSelected();
// No pointer can be driven from this library: does nothing.
NETVANE_API void MousePosClick(std::int32_t x, std::int32_t y);
// Runs `script` as JavaScript statements, then evaluates `expression` and
// returns its value as text. On any error, or when the run exceeds its time
// limit (10 s; NETVANE_SCRIPT_TIMEOUT_MS overrides), writes
// "RunJavaScript <message>" to the debug channel and returns empty text.
NETVANE_API std::string RunJavaScript(const std::string& script, const std::string& expression);

} // namespace Funclib
