// The calls of student management: a page of the list, delete, add, change
// of phone number and the stored photo. Each posts on the context's session
// with the session cookie and a payload enciphered under the session
// identifier, catches every error and logs it under the window's
// where-name.
#pragma once

#include "Agentcalls.h"
#include "WinHttpClass.h"

#include <cstdint>
#include <string>

// Students per page.
inline constexpr int PageSize = 30;

struct SStuListResult {
    bool Loaded = false; // Code 1 with a non-empty packet
    std::string Packet;  // the answer's "Content": the page's data packet
};

// "/astulist"; errors are logged under "InitDBGrid".
SStuListResult LoadStudentPage(SCallContext context, int page, const std::string& findField,
                               const std::string& findValue);

struct SDeleteResult {
    int Code = 0;        // 0 without a readable answer
    bool Failed = false; // an error was raised (and logged under "BtnDelClick")
};

// "/adeletestu" with {"stuid": the student's identifier as text}.
SDeleteResult DeleteStudent(SCallContext context, const std::string& studentId);

// What the editor sends for a new student; texts in GBK.
struct SNewStudent {
    std::string DeviceSerial;
    std::string Account;
    std::string Name;
    std::string IDCardNum;
    std::string Sex;
    std::string Nation;
    std::string Born;
    std::string Address;
    std::string GrantDept;
    std::string UserLifeBegin;
    std::string UserLifeEnd;
    std::string PhotoFile; // full path; empty: no "file" part
};

struct SEditResult {
    int Code = 0;
    std::string Message; // for the agent; empty: nothing to show
    bool Failed = false; // an error was raised (and logged)
};

// "/aaddstu" as a multipart body: part "data", then the photo file as part
// "file" ("image/bmp") when there is one. No answer at all gives FailureText;
// a readable answer gives its "Content" whatever the code. Errors, also an
// unreadable or empty photo file, are logged under "BtnAddClick".
SEditResult AddStudent(SCallContext context, const SNewStudent& student);

// "/amodifystu" with {"username", "stuid" as decimal text}. A readable
// answer gives its "Content"; nothing else shows a message. Errors are
// logged under "BtnModifyClick".
SEditResult ModifyStudent(SCallContext context, const std::string& account, std::int32_t studentId);

struct SPictureResult {
    bool Failed = false;        // an error was raised (and logged under "LoadPic")
    Winhttpclass::TBytes Bytes; // the photo's bytes; empty when none came
};

// "/agetpicdata" with {"stuid" as a JSON number}: on Code 1 the hexadecimal
// "Content" decoded into bytes.
SPictureResult LoadStudentPicture(SCallContext context, std::int32_t studentId);
