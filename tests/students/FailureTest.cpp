#include "FailureTest.h"

#include "CodePage.h"
#include "DemoData.h"
#include "Json.h"
#include "LoopbackServer.h"
#include "QtGbk.h"
#include "StudentsSupport.h"
#include "UnitAddStu.h"
#include "UnitStuList.h"

#include <QBuffer>
#include <QTest>
#include <atomic>
#include <cstdio>
#include <memory>

using namespace studentstest;

Q_DECLARE_METATYPE(testsupport::After)

namespace {

enum class TPicture { Shown, Kept, Empty };

QByteArray Bytes(const std::string& text) {
    return QByteArray::fromStdString(text);
}

std::string Http(int status, const char* reason, const std::string& body) {
    return testsupport::HttpResponse(status, reason, body,
                                     {{"Content-Type", "application/json; charset=GBK"}});
}

// A loopback server that answers `path` from the table row and every other
// call with `others`; the first answer to "/astulist" is a full page.
std::unique_ptr<testsupport::ScriptedServer> ServeRow(const std::string& path, QByteArray reply,
                                                      testsupport::After after,
                                                      std::string others = {}) {
    auto pages = std::make_shared<std::atomic<int>>(0);
    return std::make_unique<testsupport::ScriptedServer>(
        [=](const testsupport::ReceivedRequest& request) -> testsupport::Reply {
            if (request.target == "/astulist" && (*pages)++ == 0)
                return {JsonReply(1, PagePacket(path == "/astulist" ? 30 : 5, 30))};
            if (request.target == path)
                return {reply.toStdString(), after};
            return {others.empty() ? JsonReply(0, "") : others};
        });
}

} // namespace

void TestStudentFailures::brokenPage_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<testsupport::After>("after");
    QTest::addColumn<bool>("logged");

    using testsupport::After;
    std::string noRowData = PagePacket(3, 3);
    noRowData.erase(noRowData.find("<ROWDATA>"),
                    noRowData.find("</ROWDATA>") + 10 - noRowData.find("<ROWDATA>"));
    QTest::newRow("packet not well-formed")
        << Bytes(JsonReply(
               1,
               "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA>"))
        << After::Continue << true;
    QTest::newRow("packet without ROWDATA")
        << Bytes(JsonReply(1, noRowData)) << After::Continue << true;
    QTest::newRow("packet without the field Account")
        << Bytes(JsonReply(1, PagePacket(3, 3, "Account"))) << After::Continue << true;
    QTest::newRow("answer not JSON")
        << Bytes(Http(200, "OK", "{\"Code\":1,\"Content\":")) << After::Continue << true;
    QTest::newRow("Code 0") << Bytes(JsonReply(0, Gbk(u8"页码无效！"))) << After::Continue << false;
    QTest::newRow("Code 1, Content empty") << Bytes(JsonReply(1, "")) << After::Continue << false;
    QTest::newRow("status 500") << Bytes(Http(500, "Internal Server Error",
                                              "{\"Code\":1,\"Content\":\"\"}"))
                                << After::Continue << false;
    QTest::newRow("empty answer") << Bytes(Http(200, "OK", "")) << After::Continue << false;
    QTest::newRow("no answer") << QByteArray() << After::Reset << false;
}

void TestStudentFailures::brokenPage() {
    QFETCH(QByteArray, reply);
    QFETCH(testsupport::After, after);
    QFETCH(bool, logged);

    const TLogFile log;
    const auto server = ServeRow("/astulist", reply, after);
    const auto form = OpenUnshown(server->Url(""));
    TModalScript script;
    form->BtnStuListClick();
    QCOMPARE(GridRows(*form), 30);
    QVERIFY(form->RzToolbarBtnPageDown->isEnabled());

    form->ChangePage(+1);
    // Nothing shown; the grid is empty on the page asked for.
    QCOMPARE(GridRows(*form), 0);
    QVERIFY(!form->ClientDataSet1.Active());
    QCOMPARE(form->FCurPage, 2);
    QCOMPARE(form->LabelCurpage->text(), Q(u8"第 2 页"));
    QVERIFY(form->RzToolbarBtnPageUp->isEnabled());
    QVERIFY(!form->RzToolbarBtnPageDown->isEnabled());
    QCOMPARE(log.Count("Tarvo", "InitDBGrid", "Exception: "), logged ? 1 : 0);

    // Change and delete do nothing on an empty list.
    form->RzButton1Click();
    form->BtnDelClick();
    CHECK_SCRIPT(script);
    QVERIFY(script.Boxes.empty());
    QCOMPARE(RequestsTo(server->Requests(), "/adeletestu").size(), std::size_t{0});
    QCOMPARE(RequestsTo(server->Requests(), "/agetpicdata").size(), std::size_t{0});
}

void TestStudentFailures::deleteRefused_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<testsupport::After>("after");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::addColumn<bool>("logged");

    using testsupport::After;
    const QString failed = Q(u8"删除失败！");
    QTest::newRow("Code 0") << Bytes(JsonReply(0, Gbk(u8"学员不存在！"))) << After::Continue
                            << failed << false;
    QTest::newRow("Code not a number")
        << Bytes(Http(200, "OK", "{\"Code\":\"one\",\"Content\":\"\"}")) << After::Continue
        << failed << false;
    QTest::newRow("status 500") << Bytes(Http(500, "Internal Server Error",
                                              "{\"Code\":1,\"Content\":\"\"}"))
                                << After::Continue << failed << false;
    QTest::newRow("empty answer") << Bytes(Http(200, "OK", "")) << After::Continue << failed
                                  << false;
    QTest::newRow("no answer") << QByteArray() << After::Reset << failed << false;
    QTest::newRow("answer not JSON: only logged")
        << Bytes(Http(200, "OK", "Code=1")) << After::Continue << QString() << true;
}

void TestStudentFailures::deleteRefused() {
    QFETCH(QByteArray, reply);
    QFETCH(testsupport::After, after);
    QFETCH(QString, message);
    QFETCH(bool, logged);

    const TLogFile log;
    const auto server = ServeRow("/adeletestu", reply, after);
    const auto form = OpenUnshown(server->Url(""));
    form->BtnStuListClick();
    QCOMPARE(GridRows(*form), 5);
    form->DBGridDB->selectRow(1);
    const QString id = PageCell(*form, 1, "Id");

    TModalScript script;
    script.Box(QMessageBox::Yes);
    if (!message.isEmpty())
        script.Box(QMessageBox::Ok);
    form->BtnDelClick();
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{message.isEmpty() ? 1u : 2u});
    if (!message.isEmpty()) {
        QCOMPARE(script.Boxes[1].Text, message);
        QCOMPARE(script.Boxes[1].Icon, QMessageBox::Warning);
    }
    QCOMPARE(log.Count("Tarvo", "BtnDelClick", "Exception: "), logged ? 1 : 0);

    // The current row's identifier as text went out; the list is unchanged.
    const auto deletes = RequestsTo(server->Requests(), "/adeletestu");
    QVERIFY(!deletes.empty());
    const auto payload = RequestPayload(deletes.front(), LoopbackSession);
    QVERIFY(payload);
    QCOMPARE(payload->Member("stuid")->Value().Kind(), Json::TValueKind::String);
    QCOMPARE(ToQ(payload->Member("stuid")->Value().AsString()), id);
    QCOMPARE(RequestsTo(server->Requests(), "/astulist").size(), std::size_t{1});
    QCOMPARE(GridRows(*form), 5);
    QCOMPARE(form->FCurPage, 1);
}

void TestStudentFailures::deleteAnsweredNo() {
    const auto server =
        ServeRow("/adeletestu", Bytes(JsonReply(1, "")), testsupport::After::Continue);
    const auto form = OpenUnshown(server->Url(""));
    form->BtnStuListClick();
    form->DBGridDB->selectRow(0);

    TModalScript script;
    script.Box(QMessageBox::No);
    form->BtnDelClick();
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{1});
    QCOMPARE(script.Boxes[0].Text, Q(u8"删除学员“Student30”，是否继续？"));
    QVERIFY(RequestsTo(server->Requests(), "/adeletestu").empty());
    QCOMPARE(RequestsTo(server->Requests(), "/astulist").size(), std::size_t{1});
    QCOMPARE(GridRows(*form), 5);
}

void TestStudentFailures::photoAnswer_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<testsupport::After>("after");
    QTest::addColumn<int>("picture");      // TPicture
    QTest::addColumn<QByteArray>("shown"); // the bytes whose image is shown
    QTest::addColumn<bool>("logged");

    using testsupport::After;
    const QByteArray bmp = Bytes(tarvo::devserver::MakeBmp(102, 126, 7));
    const QByteArray hex = bmp.toHex().toUpper();
    QByteArray png;
    {
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QImage::fromData(bmp, "BMP").save(&buffer, "PNG");
    }
    // Decoding stops at a pair that is not hexadecimal; zero bytes follow.
    QByteArray badPixels = hex;
    badPixels.replace(120, 2, "ZZ");
    QByteArray zeroedPixels = bmp;
    zeroedPixels.replace(60, bmp.size() - 60, QByteArray(bmp.size() - 60, '\0'));
    QByteArray badHeader = hex;
    badHeader[2] = 'G';

    const auto reply = [](const QByteArray& content) {
        return Bytes(JsonReply(1, content.toStdString()));
    };
    const int shown = int(TPicture::Shown);
    const int kept = int(TPicture::Kept);
    const int empty = int(TPicture::Empty);
    QTest::newRow("BMP, upper-case digits")
        << reply(hex) << After::Continue << shown << bmp << false;
    QTest::newRow("BMP, lower-case digits")
        << reply(bmp.toHex()) << After::Continue << shown << bmp << false;
    QTest::newRow("odd length: the last digit left over")
        << reply(hex + "A") << After::Continue << shown << bmp << false;
    QTest::newRow("odd length, too short for a BMP")
        << reply("424D3") << After::Continue << kept << QByteArray() << true;
    QTest::newRow("non-hex digit in the header")
        << reply(badHeader) << After::Continue << kept << QByteArray() << true;
    QTest::newRow("non-hex digits in the pixels")
        << reply(badPixels) << After::Continue << shown << zeroedPixels << false;
    QTest::newRow("PNG, not a BMP")
        << reply(png.toHex()) << After::Continue << kept << QByteArray() << true;
    QTest::newRow("Code 1, empty text")
        << reply("") << After::Continue << empty << QByteArray() << false;
    QTest::newRow("Code 0: no photo") << Bytes(JsonReply(0, Gbk(u8"该学员没有照片")))
                                      << After::Continue << empty << QByteArray() << false;
    QTest::newRow("status 500") << Bytes(Http(500, "Internal Server Error", "{}"))
                                << After::Continue << empty << QByteArray() << false;
    QTest::newRow("no answer") << QByteArray() << After::Reset << empty << QByteArray() << false;
    QTest::newRow("answer not JSON")
        << Bytes(Http(200, "OK", "<html>")) << After::Continue << kept << QByteArray() << true;
}

void TestStudentFailures::photoAnswer() {
    QFETCH(QByteArray, reply);
    QFETCH(testsupport::After, after);
    QFETCH(int, picture);
    QFETCH(QByteArray, shown);
    QFETCH(bool, logged);

    const TLogFile log;
    const auto server = ServeRow("/agetpicdata", reply, after);
    TFormAddStu editor;
    HandOver(editor, 1, server->Url(""), LoopbackSession, 7);
    QPixmap before(8, 8);
    before.fill(Qt::red);
    editor.ImageHead->setPixmap(before);

    TModalScript script;
    editor.show();
    CHECK_SCRIPT(script);
    QVERIFY(script.Boxes.empty());
    QCOMPARE(RequestsTo(server->Requests(), "/agetpicdata").size(), std::size_t{1});
    QCOMPARE(log.Count("Tarvo", "LoadPic", "Exception: "), logged ? 1 : 0);

    const QImage image = editor.ImageHead->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    switch (TPicture(picture)) {
    case TPicture::Shown:
        QCOMPARE(image, QImage::fromData(shown, "BMP").convertToFormat(QImage::Format_RGB32));
        break;
    case TPicture::Kept:
        QCOMPARE(image, before.toImage().convertToFormat(QImage::Format_RGB32));
        break;
    case TPicture::Empty:
        QVERIFY(PictureEmpty(editor));
        break;
    }
}

void TestStudentFailures::addAnswers_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<testsupport::After>("after");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::addColumn<bool>("logged");

    using testsupport::After;
    QTest::newRow("Code 0: its Content shown")
        << Bytes(JsonReply(0, Gbk(u8"建号名额已用完，无法添加学员！"))) << After::Continue
        << Q(u8"建号名额已用完，无法添加学员！") << false;
    QTest::newRow("Code 0, empty Content: nothing shown")
        << Bytes(JsonReply(0, "")) << After::Continue << QString() << false;
    QTest::newRow("status 500: nothing shown")
        << Bytes(Http(500, "Internal Server Error", "{\"Code\":1,\"Content\":\"\"}"))
        << After::Continue << QString() << false;
    QTest::newRow("empty answer: nothing shown")
        << Bytes(Http(200, "OK", "")) << After::Continue << QString() << false;
    QTest::newRow("answer not JSON: logged")
        << Bytes(Http(200, "OK", "<html>")) << After::Continue << QString() << true;
    QTest::newRow("Code 1 without Content: logged")
        << Bytes(Http(200, "OK", "{\"Code\":1}")) << After::Continue << QString() << true;
}

void TestStudentFailures::addAnswers() {
    QFETCH(QByteArray, reply);
    QFETCH(testsupport::After, after);
    QFETCH(QString, message);
    QFETCH(bool, logged);

    const TLogFile log;
    const auto server = ServeRow("/aaddstu", reply, after);
    const TEnvVar cardOnReader("TARVO_IDCARD_FILE", TARVO_CARD_FOLDER "/card.ini");
    TFormAddStu editor;
    HandOver(editor, 0, server->Url(""), LoopbackSession);
    editor.show();
    ReadCard(editor);
    if (QTest::currentTestFailed())
        return;
    editor.EditUserAccount->setText(QStringLiteral("13912340061"));
    const QStringList fields = Fields(editor);
    const std::vector<std::string> card = CardTexts(editor.FCard);

    TModalScript script;
    if (!message.isEmpty())
        script.Box(QMessageBox::Ok);
    QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{message.isEmpty() ? 0u : 1u});
    if (!message.isEmpty())
        QCOMPARE(script.Boxes[0].Text, message);
    QCOMPARE(log.Count("Tarvo", "BtnAddClick", "Exception: "), logged ? 1 : 0);
    QCOMPARE(RequestsTo(server->Requests(), "/aaddstu").size(), std::size_t{1});
    // No question; everything stays as it was.
    QVERIFY(editor.isVisible());
    QCOMPARE(Fields(editor), fields);
    QCOMPARE(CardTexts(editor.FCard), card);
    QVERIFY(!PictureEmpty(editor));
}

void TestStudentFailures::changeAnswers_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<testsupport::After>("after");
    QTest::addColumn<QString>("message"); // empty: no box
    QTest::addColumn<bool>("logged");

    using testsupport::After;
    QTest::newRow("Code 0: its Content shown") << Bytes(JsonReply(0, Gbk(u8"学员不存在！")))
                                               << After::Continue << Q(u8"学员不存在！") << false;
    QTest::newRow("status 500: nothing shown")
        << Bytes(Http(500, "Internal Server Error", "{\"Code\":1,\"Content\":\"\"}"))
        << After::Continue << QString() << false;
    QTest::newRow("no answer: nothing shown") << QByteArray() << After::Reset << QString() << false;
    QTest::newRow("answer not JSON: logged")
        << Bytes(Http(200, "OK", "<html>")) << After::Continue << QString() << true;
}

void TestStudentFailures::changeAnswers() {
    QFETCH(QByteArray, reply);
    QFETCH(testsupport::After, after);
    QFETCH(QString, message);
    QFETCH(bool, logged);

    const TLogFile log;
    const auto server = ServeRow("/amodifystu", reply, after);
    TFormAddStu editor;
    HandOver(editor, 1, server->Url(""), LoopbackSession, 7);
    editor.EditName->setText(Q(u8"王伟"));
    editor.show();
    editor.EditUserAccount->setText(QStringLiteral("13912340062"));

    TModalScript script;
    if (!message.isEmpty())
        script.Box(QMessageBox::Ok);
    QTest::mouseClick(editor.BtnModify, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{message.isEmpty() ? 0u : 1u});
    if (!message.isEmpty())
        QCOMPARE(script.Boxes[0].Text, message);
    QCOMPARE(log.Count("Tarvo", "BtnModifyClick", "Exception: "), logged ? 1 : 0);
    // The dialog stays open with the number typed.
    QVERIFY(editor.isVisible());
    QCOMPARE(editor.result(), 0);
    QCOMPARE(editor.EditUserAccount->text(), QStringLiteral("13912340062"));
}

void TestStudentFailures::addServerDown() {
    const TEnvVar cardOnReader("TARVO_IDCARD_FILE", TARVO_CARD_FOLDER "/card.ini");
    TFormAddStu editor;
    HandOver(editor, 0, DeadUrl(), LoopbackSession);
    editor.show();
    ReadCard(editor);
    if (QTest::currentTestFailed())
        return;
    editor.EditUserAccount->setText(QStringLiteral("13912340051"));
    const QStringList fields = Fields(editor);
    const std::vector<std::string> card = CardTexts(editor.FCard);
    const QImage picture = editor.ImageHead->pixmap().toImage();

    TModalScript script;
    script.Box(QMessageBox::Ok);
    QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{1});
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Warning);
    QCOMPARE(script.Boxes[0].Text, Q(u8"访问服务器失败，请稍后重试！"));
    // Everything stays for another try.
    QVERIFY(editor.isVisible());
    QCOMPARE(Fields(editor), fields);
    QCOMPARE(CardTexts(editor.FCard), card);
    QCOMPARE(editor.ImageHead->pixmap().toImage(), picture);
    QCOMPARE(editor.FReadState, 2);
}

void TestStudentFailures::addPhotoVanished() {
    const TLogFile log;
    const testsupport::ScriptedServer server(
        [](const testsupport::ReceivedRequest&) { return JsonReply(1, Gbk(u8"添加学员成功！")); });
    const TEnvVar cardOnReader("TARVO_IDCARD_FILE", TARVO_CARD_FOLDER "/card2.ini");
    TFormAddStu editor;
    HandOver(editor, 0, server.Url(""), LoopbackSession);
    editor.show();
    ReadCard(editor);
    if (QTest::currentTestFailed())
        return;
    editor.EditUserAccount->setText(QStringLiteral("13912340052"));
    QCOMPARE(std::remove(editor.FCard.PhotoFile.c_str()), 0);
    const QStringList fields = Fields(editor);
    const std::vector<std::string> card = CardTexts(editor.FCard);

    TModalScript script;
    QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(script);
    // Logged, nothing shown, nothing sent, everything kept.
    QVERIFY(script.Boxes.empty());
    QCOMPARE(log.Count("Tarvo", "BtnAddClick", "Exception: "), 1);
    QVERIFY(server.Requests().empty());
    QVERIFY(editor.isVisible());
    QCOMPARE(Fields(editor), fields);
    QCOMPARE(CardTexts(editor.FCard), card);
    QVERIFY(!PictureEmpty(editor));
}
