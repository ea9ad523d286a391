#include "Store.h"

#include <sqlite3.h>
#include <utility>

namespace tarvo::devserver {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS agents (
    id         INTEGER PRIMARY KEY,
    account    TEXT NOT NULL UNIQUE,
    password   TEXT NOT NULL,
    name       TEXT NOT NULL,
    idcardnum  TEXT NOT NULL DEFAULT '',
    quota      INTEGER NOT NULL DEFAULT 0,
    last_ip    TEXT,
    last_login INTEGER
);
CREATE TABLE IF NOT EXISTS students (
    id            INTEGER PRIMARY KEY AUTOINCREMENT,
    agent_id      INTEGER NOT NULL REFERENCES agents(id),
    account       TEXT NOT NULL UNIQUE,
    name          TEXT NOT NULL,
    device_serial TEXT NOT NULL DEFAULT '',
    idcardnum     TEXT NOT NULL DEFAULT '',
    sex           TEXT NOT NULL DEFAULT '',
    nation        TEXT NOT NULL DEFAULT '',
    born          TEXT NOT NULL DEFAULT '',
    address       TEXT NOT NULL DEFAULT '',
    grantdept     TEXT NOT NULL DEFAULT '',
    life_begin    TEXT NOT NULL DEFAULT '',
    life_end      TEXT NOT NULL DEFAULT '',
    photo_path    TEXT NOT NULL DEFAULT '',
    photo         BLOB,
    verifycode    TEXT NOT NULL,
    regdate       INTEGER NOT NULL,
    duedate       INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS students_agent ON students(agent_id, id);
)sql";

constexpr const char* kStudentColumns =
    "id, agent_id, account, name, device_serial, idcardnum, sex, nation, born, address, "
    "grantdept, life_begin, life_end, photo_path, verifycode, regdate, duedate, photo";

} // namespace

// One prepared statement; finalised when it goes out of scope.
class Store::Statement {
public:
    Statement(sqlite3* db, const char* sql) : FDb(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &FStmt, nullptr) != SQLITE_OK) {
            throw StoreError(std::string("prepare: ") + sqlite3_errmsg(db));
        }
    }
    ~Statement() { sqlite3_finalize(FStmt); }
    Statement(Statement&& other) noexcept
        : FDb(other.FDb), FStmt(std::exchange(other.FStmt, nullptr)) {}
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& operator=(Statement&&) = delete;

    Statement& Bind(int index, const std::string& text) {
        Check(sqlite3_bind_text(FStmt, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, std::int64_t number) {
        Check(sqlite3_bind_int64(FStmt, index, number));
        return *this;
    }
    Statement& BindBlob(int index, const std::optional<std::string>& bytes) {
        if (!bytes) {
            Check(sqlite3_bind_null(FStmt, index));
        } else {
            Check(
                sqlite3_bind_blob64(FStmt, index, bytes->data(), bytes->size(), SQLITE_TRANSIENT));
        }
        return *this;
    }

    // True while there is a row to read.
    bool Step() {
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        throw StoreError(std::string("step: ") + sqlite3_errmsg(FDb));
    }
    // Runs a statement that yields no rows; returns the SQLite result code
    // so that callers can tell a constraint violation.
    int Run() {
        const int rc = sqlite3_step(FStmt);
        if (rc != SQLITE_DONE && rc != SQLITE_CONSTRAINT) {
            throw StoreError(std::string("step: ") + sqlite3_errmsg(FDb));
        }
        return rc;
    }

    std::int64_t Int(int column) const { return sqlite3_column_int64(FStmt, column); }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(FStmt, column);
        const int size = sqlite3_column_bytes(FStmt, column);
        return text ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
    }
    std::optional<std::string> Blob(int column) const {
        if (sqlite3_column_type(FStmt, column) == SQLITE_NULL) {
            return std::nullopt;
        }
        const void* bytes = sqlite3_column_blob(FStmt, column);
        const int size = sqlite3_column_bytes(FStmt, column);
        return bytes ? std::string(static_cast<const char*>(bytes), size) : std::string();
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK) {
            throw StoreError(std::string("bind: ") + sqlite3_errmsg(FDb));
        }
    }

    sqlite3* FDb;
    sqlite3_stmt* FStmt = nullptr;
};

namespace {

// BEGIN IMMEDIATE ... COMMIT; rolled back unless Commit() was reached.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : FDb(db) { Exec("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!FDone) {
            sqlite3_exec(FDb, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        Exec("COMMIT");
        FDone = true;
    }

private:
    void Exec(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(FDb, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "unknown error";
            sqlite3_free(error);
            throw StoreError(std::string(sql) + ": " + message);
        }
    }

    sqlite3* FDb;
    bool FDone = false;
};

} // namespace

Store::Store(const std::string& path) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &FDb, flags, nullptr) != SQLITE_OK) {
        std::string message = FDb ? sqlite3_errmsg(FDb) : "out of memory";
        sqlite3_close(FDb);
        FDb = nullptr;
        throw StoreError("cannot open database " + path + ": " + message);
    }
    sqlite3_busy_timeout(FDb, 5000);
    try {
        Exec("PRAGMA foreign_keys = ON");
        Exec("PRAGMA synchronous = FULL");
        Exec(kSchema);
    } catch (...) {
        sqlite3_close(FDb);
        FDb = nullptr;
        throw;
    }
}

Store::~Store() {
    sqlite3_close(FDb);
}

Store::Statement Store::Prepare(const char* sql) {
    return Statement(FDb, sql);
}

void Store::Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw StoreError(message);
    }
}

std::int64_t Store::AddAgent(const AgentRecord& agent) {
    std::lock_guard lock(FLock);
    auto insert = Prepare("INSERT INTO agents (account, password, name, idcardnum, quota) "
                          "VALUES (?, ?, ?, ?, ?)");
    insert.Bind(1, agent.Account)
        .Bind(2, agent.Password)
        .Bind(3, agent.Name)
        .Bind(4, agent.IdCardNum)
        .Bind(5, agent.Quota);
    if (insert.Run() == SQLITE_CONSTRAINT) {
        throw StoreError("an agent with the account " + agent.Account + " exists already");
    }
    return sqlite3_last_insert_rowid(FDb);
}

namespace {

template <class Stmt> AgentRecord ReadAgent(const Stmt& row) {
    AgentRecord agent;
    agent.Id = row.Int(0);
    agent.Account = row.Text(1);
    agent.Password = row.Text(2);
    agent.Name = row.Text(3);
    agent.IdCardNum = row.Text(4);
    agent.Quota = row.Int(5);
    return agent;
}

template <class Stmt> StudentRecord ReadStudent(const Stmt& row, bool withPhoto) {
    StudentRecord s;
    s.Id = row.Int(0);
    s.AgentId = row.Int(1);
    s.Account = row.Text(2);
    s.Name = row.Text(3);
    s.DeviceSerial = row.Text(4);
    s.IdCardNum = row.Text(5);
    s.Sex = row.Text(6);
    s.Nation = row.Text(7);
    s.Born = row.Text(8);
    s.Address = row.Text(9);
    s.GrantDept = row.Text(10);
    s.UserLifeBegin = row.Text(11);
    s.UserLifeEnd = row.Text(12);
    s.PhotoPath = row.Text(13);
    s.VerifyCode = row.Text(14);
    s.RegDate = row.Int(15);
    s.DueDate = row.Int(16);
    if (withPhoto) {
        s.Photo = row.Blob(17);
    }
    return s;
}

} // namespace

std::optional<AgentRecord> Store::FindAgent(const std::string& account) {
    std::lock_guard lock(FLock);
    auto query = Prepare(
        "SELECT id, account, password, name, idcardnum, quota FROM agents WHERE account = ?");
    query.Bind(1, account);
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadAgent(query);
}

std::optional<AgentRecord> Store::GetAgent(std::int64_t id) {
    std::lock_guard lock(FLock);
    auto query =
        Prepare("SELECT id, account, password, name, idcardnum, quota FROM agents WHERE id = ?");
    query.Bind(1, id);
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadAgent(query);
}

void Store::RecordLogin(std::int64_t agentId, const std::string& ip, std::int64_t when) {
    std::lock_guard lock(FLock);
    auto update = Prepare("UPDATE agents SET last_ip = ?, last_login = ? WHERE id = ?");
    update.Bind(1, ip).Bind(2, when).Bind(3, agentId);
    update.Run();
}

std::int64_t Store::AgentCount() {
    std::lock_guard lock(FLock);
    auto query = Prepare("SELECT COUNT(*) FROM agents");
    query.Step();
    return query.Int(0);
}

AddResult Store::AddStudent(StudentRecord& student) {
    std::lock_guard lock(FLock);
    Transaction transaction(FDb);
    {
        auto taken = Prepare("SELECT 1 FROM students WHERE account = ?");
        taken.Bind(1, student.Account);
        if (taken.Step()) {
            return AddResult::DuplicateAccount;
        }
    }
    {
        auto count = Prepare("SELECT (SELECT COUNT(*) FROM students WHERE agent_id = ?1), "
                             "(SELECT quota FROM agents WHERE id = ?1)");
        count.Bind(1, student.AgentId);
        count.Step();
        if (count.Int(0) >= count.Int(1)) {
            return AddResult::QuotaExhausted;
        }
    }
    auto insert = Prepare(
        "INSERT INTO students (agent_id, account, name, device_serial, idcardnum, sex, nation, "
        "born, address, grantdept, life_begin, life_end, photo_path, verifycode, regdate, "
        "duedate, photo) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, student.AgentId)
        .Bind(2, student.Account)
        .Bind(3, student.Name)
        .Bind(4, student.DeviceSerial)
        .Bind(5, student.IdCardNum)
        .Bind(6, student.Sex)
        .Bind(7, student.Nation)
        .Bind(8, student.Born)
        .Bind(9, student.Address)
        .Bind(10, student.GrantDept)
        .Bind(11, student.UserLifeBegin)
        .Bind(12, student.UserLifeEnd)
        .Bind(13, student.PhotoPath)
        .Bind(14, student.VerifyCode)
        .Bind(15, student.RegDate)
        .Bind(16, student.DueDate)
        .BindBlob(17, student.Photo);
    if (insert.Run() == SQLITE_CONSTRAINT) {
        return AddResult::DuplicateAccount;
    }
    student.Id = sqlite3_last_insert_rowid(FDb);
    transaction.Commit();
    return AddResult::Added;
}

ModifyResult Store::ChangeStudentAccount(std::int64_t agentId, std::int64_t studentId,
                                         const std::string& account) {
    std::lock_guard lock(FLock);
    Transaction transaction(FDb);
    {
        auto mine = Prepare("SELECT 1 FROM students WHERE id = ? AND agent_id = ?");
        mine.Bind(1, studentId).Bind(2, agentId);
        if (!mine.Step()) {
            return ModifyResult::NotFound;
        }
    }
    {
        auto taken = Prepare("SELECT 1 FROM students WHERE account = ? AND id <> ?");
        taken.Bind(1, account).Bind(2, studentId);
        if (taken.Step()) {
            return ModifyResult::DuplicateAccount;
        }
    }
    auto update = Prepare("UPDATE students SET account = ? WHERE id = ? AND agent_id = ?");
    update.Bind(1, account).Bind(2, studentId).Bind(3, agentId);
    if (update.Run() == SQLITE_CONSTRAINT) {
        return ModifyResult::DuplicateAccount;
    }
    transaction.Commit();
    return ModifyResult::Changed;
}

bool Store::DeleteStudent(std::int64_t agentId, std::int64_t studentId) {
    std::lock_guard lock(FLock);
    auto remove = Prepare("DELETE FROM students WHERE id = ? AND agent_id = ?");
    remove.Bind(1, studentId).Bind(2, agentId);
    remove.Run();
    return sqlite3_changes(FDb) == 1;
}

std::optional<StudentRecord> Store::GetStudent(std::int64_t agentId, std::int64_t studentId) {
    std::lock_guard lock(FLock);
    const std::string sql =
        std::string("SELECT ") + kStudentColumns + " FROM students WHERE id = ? AND agent_id = ?";
    auto query = Prepare(sql.c_str());
    query.Bind(1, studentId).Bind(2, agentId);
    if (!query.Step()) {
        return std::nullopt;
    }
    return ReadStudent(query, true);
}

std::int64_t Store::StudentCount(std::int64_t agentId) {
    std::lock_guard lock(FLock);
    auto query = Prepare("SELECT COUNT(*) FROM students WHERE agent_id = ?");
    query.Bind(1, agentId);
    query.Step();
    return query.Int(0);
}

std::vector<StudentRecord> Store::StudentPage(const StudentPageQuery& q) {
    std::lock_guard lock(FLock);
    // instr() rather than LIKE: the search text is matched literally, so
    // '%' and '_' in it are plain characters.
    const std::string sql =
        std::string("SELECT ") + kStudentColumns +
        " FROM students WHERE agent_id = ?1 AND (?2 = 0 OR (?2 = 1 AND instr(account, ?3) > 0)"
        " OR (?2 = 2 AND instr(name, ?3) > 0)) ORDER BY id DESC LIMIT ?4 OFFSET ?5";
    auto query = Prepare(sql.c_str());
    std::int64_t field = 0;
    if (!q.Value.empty()) {
        field = q.Field == FindField::Account ? 1 : q.Field == FindField::Name ? 2 : 0;
    }
    query.Bind(1, q.AgentId)
        .Bind(2, field)
        .Bind(3, q.Value)
        .Bind(4, q.PageSize)
        .Bind(5, (q.Page - 1) * q.PageSize);
    std::vector<StudentRecord> rows;
    while (query.Step()) {
        rows.push_back(ReadStudent(query, false));
    }
    return rows;
}

} // namespace tarvo::devserver
