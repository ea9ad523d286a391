// The identity card reader driver: puts the vendor's library files in place,
// loads the main one at run time, runs one reading pass on the reader and
// decodes the record it fills. Knows nothing of windows or of the server.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The record that the vendor library's read entry point fills: GBK texts,
// each ended by a zero byte within its room.
inline constexpr std::size_t IDCardRecordSize = 531;
using IDCardRecord = std::array<unsigned char, IDCardRecordSize>;

// The decoded card; all texts empty stand for a card that was not read.
struct SStuInfo {
    std::string Reserved;
    std::string Name;
    std::string IDCardNum;
    std::string Sex;
    std::string Nation; // the nation's name, not its code
    std::string Born;
    std::string Address;
    std::string GrantDept;
    std::string UserLifeBegin;
    std::string UserLifeEnd;
    std::string PhotoFile;
};

// The reader's port; no other is tried.
inline constexpr std::int32_t IDCardPort = 1001;
// Result of a pass when the main library or one of its entry points is missing.
inline constexpr int IDCardLibMissing = -1000;

// The vendor's files, the main library first, and the folder they are copied
// from, relative to the parent folder of the program's folder.
inline constexpr const char* IDCardMainLib = "libSyn_IDCardRead.so";
inline constexpr std::array<const char*, 3> IDCardLibFiles = {IDCardMainLib, "libWltRS.so",
                                                              "libsdtapi.so"};
inline constexpr const char* IDCardLibSource = "Conf/DKQ-116D/";

// The nations of China in the order of their codes 1 to 56, each without the
// suffix "族": GBK texts (entry 0 is code 1, "汉").
const std::array<std::string, 56>& NationNames();
// The name of a nation code; the empty text for a code outside 1 to 56, which
// names no nation.
std::string NationName(int code);

// The folder of the running program file with a trailing '/'; the empty text
// when it cannot be told.
std::string GetProgramFolder();
// The folder the vendor's files are copied from: IDCardLibSource in the
// parent folder of `programFolder` (with or without its trailing '/').
std::string GetIDCardSourceFolder(const std::string& programFolder);

// Makes sure the vendor library files lie in the program's folder: each
// missing one is copied from the source folder. An existing file is never
// replaced, a copy appears whole or not at all, and failures are ignored.
void PrepareIDCardLibs(const std::string& programFolder = GetProgramFolder());

// Loads the main vendor library and binds its six entry points; true when
// all were found. The library is looked for by its bare name (the program's
// RUNPATH names its own folder), then in `programFolder`, then in the source
// folder. Once bound it stays loaded and bound for the life of the process;
// until then every call tries again.
bool LoadIDCardLib(const std::string& programFolder = GetProgramFolder());

// One reading pass on port 1001. `serial` receives the reader's security
// module serial (empty when the port did not open). Returns 0 when `record`
// was read, else the failing entry point's result, or IDCardLibMissing.
int ReadIDCardData(IDCardRecord& record, std::string& serial,
                   const std::string& programFolder = GetProgramFolder());

// Turns a record that the reader filled into the card's texts. No field is
// read beyond its room, with or without its zero byte.
SStuInfo DecodeIDCardRecord(const IDCardRecord& record);

// "YYYYMMDD" becomes "YYYY-MM-DD"; any other length comes back unchanged.
std::string FormatCardDate(const std::string& text);
