#include "StudentsSupport.h"

#include "Agentcalls.h"
#include "DataPacket.h"
#include "Encryptpwd.h"
#include "Json.h"
#include "LoopbackServer.h"
#include "QtGbk.h"
#include "UnitAddStu.h"
#include "UnitAdminBase.h"
#include "UnitAdminLogin.h"
#include "UnitStuList.h"
#include "Unitcommon.h"
#include "WinHttpClass.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <fstream>
#include <iterator>
#include <sqlite3.h>
#include <stdexcept>

namespace studentstest {

std::string U8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

QString Q(std::u8string_view text) {
    return QString::fromUtf8(reinterpret_cast<const char*>(text.data()),
                             static_cast<qsizetype>(text.size()));
}

// ---- The development server and its store ------------------------------

namespace {

std::vector<std::string> ServerArgs(const std::string& db, const std::vector<std::string>& extra) {
    std::vector<std::string> args{"--demo", "--db", db, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// One read-only connection for one question.
class TStoreReader {
public:
    explicit TStoreReader(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &FDb, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open the store " + path);
        sqlite3_busy_timeout(FDb, 5000);
    }
    ~TStoreReader() {
        sqlite3_finalize(FStatement);
        sqlite3_close(FDb);
    }
    TStoreReader(const TStoreReader&) = delete;
    TStoreReader& operator=(const TStoreReader&) = delete;

    void Prepare(const std::string& sql) {
        if (sqlite3_prepare_v2(FDb, sql.c_str(), -1, &FStatement, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("cannot prepare: ") + sqlite3_errmsg(FDb));
    }
    void Bind(const std::string& text) {
        sqlite3_bind_text(FStatement, 1, text.c_str(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
    }
    bool Step() {
        const int rc = sqlite3_step(FStatement);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw std::runtime_error(std::string("cannot read: ") + sqlite3_errmsg(FDb));
        return rc == SQLITE_ROW;
    }
    long long Integer(int column) const { return sqlite3_column_int64(FStatement, column); }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(FStatement, column);
        return text == nullptr ? std::string()
                               : std::string(reinterpret_cast<const char*>(text),
                                             static_cast<std::size_t>(
                                                 sqlite3_column_bytes(FStatement, column)));
    }
    std::optional<std::string> Blob(int column) const {
        if (sqlite3_column_type(FStatement, column) == SQLITE_NULL)
            return std::nullopt;
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(FStatement, column));
        return std::string(bytes,
                           static_cast<std::size_t>(sqlite3_column_bytes(FStatement, column)));
    }

private:
    sqlite3* FDb = nullptr;
    sqlite3_stmt* FStatement = nullptr;
};

} // namespace

TDemoServer::TDemoServer(const std::vector<std::string>& extraArgs)
    : FDb(FDir / "store.db"),
      FProcess(std::make_unique<devtest::ServerProcess>(ServerArgs(FDb, extraArgs))) {}

long long TDemoServer::StudentCount() const {
    TStoreReader store(FDb);
    store.Prepare("SELECT count(*) FROM students");
    store.Step();
    return store.Integer(0);
}

std::optional<SStoredStudent> TDemoServer::FindStudent(const char* where,
                                                       const std::string& key) const {
    TStoreReader store(FDb);
    store.Prepare(std::string("SELECT id, account, name, device_serial, idcardnum, sex, nation, "
                              "born, address, grantdept, life_begin, life_end, photo_path, photo "
                              "FROM students WHERE ") +
                  where);
    store.Bind(key);
    if (!store.Step())
        return std::nullopt;
    SStoredStudent s;
    s.Id = store.Integer(0);
    s.Account = store.Text(1);
    s.Name = store.Text(2);
    s.DeviceSerial = store.Text(3);
    s.IdCardNum = store.Text(4);
    s.Sex = store.Text(5);
    s.Nation = store.Text(6);
    s.Born = store.Text(7);
    s.Address = store.Text(8);
    s.GrantDept = store.Text(9);
    s.LifeBegin = store.Text(10);
    s.LifeEnd = store.Text(11);
    s.PhotoPath = store.Text(12);
    s.Photo = store.Blob(13);
    return s;
}

std::optional<SStoredStudent> TDemoServer::StudentByAccount(const std::string& account) const {
    return FindStudent("account = ?1", account);
}

std::optional<SStoredStudent> TDemoServer::StudentById(long long id) const {
    return FindStudent("id = CAST(?1 AS INTEGER)", std::to_string(id));
}

// ---- Log file ------------------------------------------------------------

TLogFile::TLogFile() : FPath(FDir.filePath(QStringLiteral("debug.log"))) {
    qputenv("TARVO_LOG_FILE", FPath.toLocal8Bit());
}

TLogFile::~TLogFile() {
    qunsetenv("TARVO_LOG_FILE");
}

QStringList TLogFile::Lines() const {
    QFile file(FPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int TLogFile::Count(const QString& source, const QString& where, const QString& textStart) const {
    // "YYYY-MM-DD HH:MM:SS.mmm " comes first.
    const QString head = source + QLatin1Char(' ') + where + QStringLiteral(": ") + textStart;
    int count = 0;
    for (const QString& line : Lines())
        if (line.size() > 24 && line.mid(24).startsWith(head))
            ++count;
    return count;
}

// ---- Modal windows -------------------------------------------------------

namespace {
constexpr int PollInterval = 5;      // ms
constexpr qint64 StuckAfter = 10000; // ms with one modal window untouched
} // namespace

TModalScript::TModalScript() {
    FTimer.setInterval(PollInterval);
    connect(&FTimer, &QTimer::timeout, this, &TModalScript::Poll);
    FTimer.start();
    FSince.start();
}

TModalScript::~TModalScript() = default;

TModalScript& TModalScript::Box(QMessageBox::StandardButton button,
                                std::function<void(const SBox&)> inspect) {
    SStep step;
    step.Matches = [](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; };
    step.IsBox = true;
    step.Button = button;
    step.Inspect = std::move(inspect);
    FSteps.push_back(std::move(step));
    return *this;
}

void TModalScript::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
        FLast = nullptr;
        FSince.restart();
        return;
    }
    if (modal == FLast) {
        if (FSince.elapsed() > StuckAfter) {
            Problems << QStringLiteral("left open, rejected: %1 \"%2\"")
                            .arg(QString::fromLatin1(modal->metaObject()->className()),
                                 modal->windowTitle());
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            FSince.restart();
        }
        return;
    }
    FLast = modal;
    FSince.restart();

    auto* box = qobject_cast<QMessageBox*>(modal);
    SBox seen;
    if (box != nullptr) {
        seen = SBox{box->windowTitle(), box->text(), box->icon()};
        Boxes.push_back(seen);
    }
    if (FSteps.empty() || !FSteps.front().Matches(modal)) {
        if (box != nullptr) {
            Problems << QStringLiteral("unexpected box: ") + seen.Text;
            box->reject();
        }
        return;
    }
    SStep step = std::move(FSteps.front());
    FSteps.pop_front();
    if (step.IsBox) {
        if (step.Inspect)
            step.Inspect(seen);
        if (QAbstractButton* button = box->button(step.Button)) {
            button->click();
        } else {
            Problems << QStringLiteral("no such button on the box: ") + seen.Text;
            box->reject();
        }
        return;
    }
    // Later, from the event loop: the action may open modal windows itself.
    QTimer::singleShot(0, this, [window = QPointer<QWidget>(modal), run = std::move(step.Run)] {
        if (window)
            run(window);
    });
}

// ---- Main window ---------------------------------------------------------

std::unique_ptr<TFormStuList> OpenLoggedIn(const std::string& baseUrl) {
    auto form = std::make_unique<TFormStuList>();
    form->FServerUrl = baseUrl;
    form->LoginDialog().FServerUrl = baseUrl;
    TModalScript login;
    login.On<TFormAdminLogin>([](TFormAdminLogin& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("EditUserName"))
            ->setText(QString::fromLatin1(DemoAccount));
        dialog.findChild<QLineEdit*>(QStringLiteral("EditPassword"))
            ->setText(QString::fromLatin1(DemoPassword));
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ButtonLogin")),
                          Qt::LeftButton);
    });
    // The first show runs the login dialog, then loads page 1.
    form->show();
    if (!login.Finished() || !login.Problems.isEmpty() || form->FGUID.size() != 36)
        throw std::runtime_error("the login did not go through: " +
                                 login.Problems.join(QStringLiteral("; ")).toStdString());
    return form;
}

std::unique_ptr<TFormStuList> OpenUnshown(const std::string& baseUrl) {
    auto form = std::make_unique<TFormStuList>();
    form->FServerUrl = baseUrl;
    form->LoginDialog().FServerUrl = baseUrl;
    form->FUserName = DemoAccount;
    form->FGUID = LoopbackSession;
    return form;
}

std::string LoginSession(const std::string& baseUrl) {
    const auto http = NewPreparedHttp();
    const SLoginResult login = AgentLogin(SCallContext{*http, baseUrl, {}}, DemoAccount,
                                          EncryptPassword(DemoAccount, DemoPassword), "127.0.0.1");
    if (login.SessionId.size() != 36)
        throw std::runtime_error("the demo agent cannot log in at " + baseUrl);
    return login.SessionId;
}

QString PageCell(const TFormStuList& form, int row, const char* field) {
    const TClientDataSet& page = form.ClientDataSet1;
    return ToQ(page.CellText(row, page.FieldIndex(field)));
}

int GridRows(const TFormStuList& form) {
    return form.DBGridDB->model()->rowCount();
}

std::unique_ptr<Json::TJSONobject> RequestPayload(const testsupport::ReceivedRequest& request,
                                                  const std::string& session) {
    std::string cipherText;
    for (const QString& field : QString::fromStdString(request.body).split(QLatin1Char('&'))) {
        if (field.startsWith(QStringLiteral("data=")))
            cipherText = QUrl::fromPercentEncoding(field.mid(5).toLatin1()).toStdString();
    }
    std::string plainText;
    if (cipherText.empty() || !DecryptPayload(cipherText, session, plainText))
        return nullptr;
    return Json::ParseJSON(plainText);
}

std::vector<testsupport::ReceivedRequest>
RequestsTo(const std::vector<testsupport::ReceivedRequest>& requests, const std::string& path) {
    std::vector<testsupport::ReceivedRequest> found;
    for (const auto& request : requests)
        if (request.target == path)
            found.push_back(request);
    return found;
}

std::string PagePacket(int rows, int firstId, const std::string& withoutField) {
    using tarvo::devserver::PacketField;
    using tarvo::devserver::PacketRow;
    std::vector<PacketField> fields;
    for (const PacketField& field : tarvo::devserver::kStudentPacketFields)
        if (field.AttrName != withoutField)
            fields.push_back(field);
    std::vector<PacketRow> page;
    for (int i = 0; i < rows; ++i) {
        const int id = firstId - i;
        PacketRow row;
        for (const PacketField& field : fields) {
            if (field.AttrName == "Id")
                row.emplace_back(std::to_string(id));
            else if (field.AttrName == "Name")
                row.emplace_back("Student" + std::to_string(id));
            else if (field.AttrName == "Account")
                row.emplace_back(std::to_string(13912340000LL + id));
            else if (field.AttrName == "verifycode")
                row.emplace_back(std::to_string(100000 + id));
            else
                row.emplace_back("20240301T09:30:00000");
        }
        page.push_back(std::move(row));
    }
    return tarvo::devserver::WriteDataPacket(fields, page);
}

std::string JsonReply(int code, const std::string& content) {
    Json::TJSONobject answer;
    answer.AddInt64("Code", code);
    answer.Add("Content", content);
    return testsupport::HttpResponse(200, "OK", answer.ToText(),
                                     {{"Content-Type", "application/json; charset=GBK"}});
}

TEnvVar::TEnvVar(const char* name, const QByteArray& value) : FName(name) {
    if (qEnvironmentVariableIsSet(name))
        FOld = qgetenv(name);
    Set(value);
}

TEnvVar::~TEnvVar() {
    if (FOld)
        qputenv(FName, *FOld);
    else
        qunsetenv(FName);
}

void TEnvVar::Set(const QByteArray& value) {
    qputenv(FName, value);
}

void HandOver(TFormAddStu& editor, std::int16_t mode, const std::string& url,
              const std::string& session, std::int32_t studentId) {
    editor.FMode = mode;
    editor.FGUID = session;
    editor.FServerUrl = url;
    editor.FStuId = studentId;
}

QStringList Fields(const TFormAddStu& editor) {
    return {editor.EditUserAccount->text(), editor.EditName->text(), editor.EditIDCardNum->text()};
}

bool PictureEmpty(const TFormAddStu& editor) {
    return editor.ImageHead->pixmap().isNull();
}

std::vector<std::string> CardTexts(const SStuInfo& card) {
    return {card.Reserved,      card.Name,        card.IDCardNum, card.Sex,
            card.Nation,        card.Born,        card.Address,   card.GrantDept,
            card.UserLifeBegin, card.UserLifeEnd, card.PhotoFile};
}

void ReadCard(TFormAddStu& editor) {
    editor.TimerRead.setInterval(10);
    QTest::mouseClick(editor.ToolbarBtnRead, Qt::LeftButton);
    QTRY_COMPARE(editor.FReadState, 2);
}

std::string DeadUrl() {
    // A port that was just free: its server is gone again.
    std::uint16_t port = 0;
    {
        const testsupport::ScriptedServer server(
            [](const testsupport::ReceivedRequest&) { return std::string(); });
        port = server.Port();
    }
    return "http://127.0.0.1:" + std::to_string(port);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

QRect DarkBox(const QImage& image, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) < 110)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace studentstest
