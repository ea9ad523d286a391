// The server's data: agents and their students, kept in SQLite.
//
// Texts cross this interface in UTF-8 (the database holds UTF-8 so that a
// name search matches whole characters); the service converts to and from
// the GBK of the wire. Every change is committed before the call returns.
// All calls are serialised on one connection; the store may be shared by the
// server's threads.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace tarvo::devserver {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct AgentRecord {
    std::int64_t Id = 0;
    std::string Account;
    std::string Password; // the enciphered password (hexadecimal text)
    std::string Name;
    std::string IdCardNum;
    std::int64_t Quota = 0;
};

// The twelve members the client sends with a new student, plus what the
// server makes for it.
struct StudentRecord {
    std::int64_t Id = 0;
    std::int64_t AgentId = 0;
    std::string DeviceSerial;
    std::string Account; // the student's phone number ("username")
    std::string Name;
    std::string IdCardNum;
    std::string Sex;
    std::string Nation;
    std::string Born;
    std::string Address;
    std::string GrantDept;
    std::string UserLifeBegin;
    std::string UserLifeEnd;
    std::string PhotoPath; // "Photo": the photo file's path on the client
    std::string VerifyCode;
    std::int64_t RegDate = 0; // seconds since 1970
    std::int64_t DueDate = 0;
    std::optional<std::string> Photo; // the photo's bytes
};

enum class FindField { All, Account, Name };

struct StudentPageQuery {
    std::int64_t AgentId = 0;
    std::int64_t Page = 1; // from 1
    std::int64_t PageSize = 30;
    FindField Field = FindField::All;
    std::string Value;
};

enum class AddResult { Added, DuplicateAccount, QuotaExhausted };
enum class ModifyResult { Changed, NotFound, DuplicateAccount };

class Store {
public:
    // Opens (and creates when needed) the database at `path`; ":memory:"
    // keeps it in memory. Throws StoreError.
    explicit Store(const std::string& path);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Agents. AddAgent throws StoreError when the account exists.
    std::int64_t AddAgent(const AgentRecord& agent);
    std::optional<AgentRecord> FindAgent(const std::string& account);
    std::optional<AgentRecord> GetAgent(std::int64_t id);
    void RecordLogin(std::int64_t agentId, const std::string& ip, std::int64_t when);
    std::int64_t AgentCount();

    // Students of one agent. AddStudent checks the phone number's
    // uniqueness and the quota in the same transaction as the insert and
    // fills in the new Id.
    AddResult AddStudent(StudentRecord& student);
    ModifyResult ChangeStudentAccount(std::int64_t agentId, std::int64_t studentId,
                                      const std::string& account);
    bool DeleteStudent(std::int64_t agentId, std::int64_t studentId);
    std::optional<StudentRecord> GetStudent(std::int64_t agentId, std::int64_t studentId);
    std::int64_t StudentCount(std::int64_t agentId);
    // Newest first.
    std::vector<StudentRecord> StudentPage(const StudentPageQuery& query);

private:
    class Statement;
    Statement Prepare(const char* sql);
    void Exec(const char* sql);

    std::mutex FLock;
    sqlite3* FDb = nullptr;
};

} // namespace tarvo::devserver
