#include "EditorTest.h"

#include "CodePage.h"
#include "Json.h"
#include "LoopbackServer.h"
#include "QtGbk.h"
#include "StudentsSupport.h"
#include "UnitAddStu.h"
#include "UnitStuList.h"

#include <QDir>
#include <QTest>

using namespace studentstest;

namespace {

std::string Utf8(const std::string& gbk) {
    return tarvo::cp::GbkToUtf8(gbk);
}

QImage Rgb(const QImage& image) {
    return image.convertToFormat(QImage::Format_RGB32);
}

} // namespace

void TestStudentEditor::validation_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("phone");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");

    const QString noPhone = Q(u8"请输入手机号码");
    const QString badPhone = Q(u8"请输入有效的手机号码");
    const QString noName = Q(u8"姓名不能为空！");
    const QString name = Q(u8"张三");
    const auto text = [](const char* latin) { return QString::fromLatin1(latin); };
    QTest::newRow("add: nothing typed, the name's message wins")
        << 0 << QString() << QString() << noName;
    QTest::newRow("add: a bad number and no name") << 0 << text("abc") << text("   ") << noName;
    QTest::newRow("add: no number") << 0 << QString() << name << noPhone;
    QTest::newRow("add: only spaces as number") << 0 << text("    ") << name << noPhone;
    QTest::newRow("add: ten digits") << 0 << text("1391234500") << name << badPhone;
    QTest::newRow("add: first digit not 1") << 0 << text("23912345000") << name << badPhone;
    QTest::newRow("add: second digit 2") << 0 << text("12912345000") << name << badPhone;
    QTest::newRow("add: one digit eight times") << 0 << text("13911111111") << name << badPhone;
    QTest::newRow("add: a letter") << 0 << text("1391234500x") << name << badPhone;
    QTest::newRow("change: no number, the name is not checked")
        << 1 << QString() << QString() << noPhone;
    QTest::newRow("change: a bad number") << 1 << text("123") << QString() << badPhone;
}

void TestStudentEditor::validation() {
    QFETCH(int, mode);
    QFETCH(QString, phone);
    QFETCH(QString, name);
    QFETCH(QString, message);

    const testsupport::ScriptedServer server(
        [](const testsupport::ReceivedRequest&) { return JsonReply(1, ""); });
    TFormAddStu editor;
    HandOver(editor, static_cast<std::int16_t>(mode), server.Url(""), LoopbackSession, 7);
    editor.show();
    editor.EditUserAccount->setText(phone);
    editor.EditName->setText(name);

    TModalScript script;
    script.Box(QMessageBox::Ok);
    QTest::mouseClick(mode == 0 ? editor.BtnAdd : editor.BtnModify, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{1});
    QCOMPARE(script.Boxes[0].Title, Q(u8"提示"));
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Warning);
    QCOMPARE(script.Boxes[0].Text, message);
    // Nothing was sent and the window is as it was.
    QVERIFY(RequestsTo(server.Requests(), "/aaddstu").empty());
    QVERIFY(RequestsTo(server.Requests(), "/amodifystu").empty());
    QVERIFY(editor.isVisible());
    QCOMPARE(Fields(editor), (QStringList{phone, name, QString()}));
}

void TestStudentEditor::addByHand() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    form->ChangePage(+1);

    int result = -1;
    QStringList atQuestion;
    bool pictureAtQuestion = false;
    bool looked = false;
    TModalScript script;
    script
        .On<TFormAddStu>([&](TFormAddStu& editor) {
            QObject::connect(&editor, &QDialog::finished, [&result](int r) { result = r; });
            QCOMPARE(editor.windowTitle(), Q(u8"添加学员"));
            QCOMPARE(editor.lb_title->text(), Q(u8"添加学员"));
            QCOMPARE(int(editor.FMode), 0);
            QCOMPARE(editor.FStuId, 0);
            QCOMPARE(editor.FGUID, form->FGUID);
            QCOMPARE(editor.FServerUrl, server.BaseUrl());
            QVERIFY(editor.BtnModify->isHidden());
            QVERIFY(!editor.BtnAdd->isHidden());
            QVERIFY(!editor.ToolbarBtnRead->isHidden());
            QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"读卡器开启"));
            QVERIFY(!editor.EditName->isReadOnly());
            QCOMPARE(Fields(editor), (QStringList{QString(), QString(), QString()}));
            looked = true;
            editor.EditUserAccount->setText(QStringLiteral("13912340001"));
            editor.EditName->setText(QStringLiteral("  ") + Q(u8"测试学员") + QStringLiteral(" "));
            QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
        })
        .Box(QMessageBox::Ok)
        .Box(QMessageBox::No, [&](const SBox&) {
            atQuestion = Fields(*FormAddStu);
            pictureAtQuestion = PictureEmpty(*FormAddStu);
        });
    QTest::mouseClick(form->BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QVERIFY(looked);

    // The server's answer first, then the question; the fields were emptied.
    QCOMPARE(script.Boxes.size(), std::size_t{2});
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Warning);
    QVERIFY2(script.Boxes[0].Text.startsWith(Q(u8"添加学员成功！学员登录密码：")),
             qPrintable(script.Boxes[0].Text));
    QCOMPARE(script.Boxes[1].Title, Q(u8"提示"));
    QCOMPARE(script.Boxes[1].Icon, QMessageBox::Question);
    QCOMPARE(script.Boxes[1].Text, Q(u8"是否继续添加！"));
    QCOMPARE(atQuestion, (QStringList{QString(), QString(), QString()}));
    QVERIFY(pictureAtQuestion);

    // No: the result is OK and the list is back on page 1, the new student first.
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(form->FCurPage, 1);
    QCOMPARE(form->LabelCurpage->text(), Q(u8"第 1 页"));
    QCOMPARE(GridRows(*form), 30);
    QCOMPARE(PageCell(*form, 0, "Name"), Q(u8"测试学员"));
    QCOMPARE(PageCell(*form, 0, "Account"), QStringLiteral("13912340001"));
    QVERIFY(form->BtnAdd->isEnabled());

    // All twelve members as typed: no card, no photo.
    const auto stored = server.StudentByAccount("13912340001");
    QVERIFY(stored);
    QCOMPARE(stored->Name, U8(u8"测试学员"));
    const std::vector<std::string> card{stored->DeviceSerial, stored->IdCardNum, stored->Sex,
                                        stored->Nation,       stored->Born,      stored->Address,
                                        stored->GrantDept,    stored->LifeBegin, stored->LifeEnd,
                                        stored->PhotoPath};
    QCOMPARE(card, std::vector<std::string>(card.size()));
    QVERIFY(!stored->Photo);
    QCOMPARE(server.StudentCount(), DemoStudents + 1);
}

void TestStudentEditor::addContinued() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    form->ChangePage(+1);

    int result = -1;
    QStringList second;
    bool secondPictureEmpty = false;
    TModalScript script;
    script
        .On<TFormAddStu>([&](TFormAddStu& editor) {
            QObject::connect(&editor, &QDialog::finished, [&result](int r) { result = r; });
            editor.EditUserAccount->setText(QStringLiteral("13912340011"));
            editor.EditName->setText(Q(u8"甲学员"));
            QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
        })
        .Box(QMessageBox::Ok)
        .Box(QMessageBox::Yes)
        .On<TFormAddStu>([&](TFormAddStu& editor) {
            // Yes: still open, for the next student.
            second = Fields(editor);
            secondPictureEmpty = PictureEmpty(editor);
            editor.EditUserAccount->setText(QStringLiteral("13912340012"));
            editor.EditName->setText(Q(u8"乙学员"));
            QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
        })
        .Box(QMessageBox::Ok)
        .Box(QMessageBox::Yes)
        .On<TFormAddStu>([](TFormAddStu& editor) { editor.close(); });
    QTest::mouseClick(form->BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(script);

    QCOMPARE(second, (QStringList{QString(), QString(), QString()}));
    QVERIFY(secondPictureEmpty);
    // Closed by its close box: not OK, so the list was not loaded again.
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(form->FCurPage, 2);
    QCOMPARE(GridRows(*form), 15);
    QVERIFY(server.StudentByAccount("13912340011"));
    QVERIFY(server.StudentByAccount("13912340012"));
    QCOMPARE(server.StudentCount(), DemoStudents + 2);
}

void TestStudentEditor::addRefused() {
    const TDemoServer server;
    TFormAddStu editor;
    HandOver(editor, 0, server.BaseUrl(), LoginSession(server.BaseUrl()));
    editor.show();
    // The number of a demo student.
    const QStringList typed{QStringLiteral("13912345000"), Q(u8"重号学员"), QString()};
    editor.EditUserAccount->setText(typed[0]);
    editor.EditName->setText(typed[1]);

    TModalScript script;
    script.Box(QMessageBox::Ok);
    QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{1});
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Warning);
    QCOMPARE(script.Boxes[0].Text, Q(u8"该手机号码已被其他学员使用！"));
    QVERIFY(editor.isVisible());
    QCOMPARE(Fields(editor), typed);
    QCOMPARE(server.StudentCount(), DemoStudents);
}

void TestStudentEditor::readCardAndAdd_data() {
    QTest::addColumn<QString>("cardFile");
    QTest::addColumn<QStringList>("expected"); // name, idcardnum, sex, nation, born,
                                               // address, grantdept, begin, end

    QTest::newRow("card.ini") << QStringLiteral("card.ini")
                              << QStringList{Q(u8"林晓雨"),
                                             "110101199803140022",
                                             Q(u8"女"),
                                             Q(u8"汉"),
                                             "1998-03-14",
                                             Q(u8"北京市东城区示例胡同12号"),
                                             Q(u8"北京市公安局东城分局"),
                                             "2018-05-20",
                                             "2028-05-20"};
    QTest::newRow("card2.ini, valid without end")
        << QStringLiteral("card2.ini")
        << QStringList{Q(u8"马建国"),
                       "31011519650822003X",
                       Q(u8"男"),
                       Q(u8"回"),
                       "1965-08-22",
                       Q(u8"上海市浦东新区样板路88弄6号1201室"),
                       Q(u8"上海市公安局浦东分局"),
                       "2015-09-01",
                       Q(u8"长期")};
}

void TestStudentEditor::readCardAndAdd() {
    QFETCH(QString, cardFile);
    QFETCH(QStringList, expected);

    const TDemoServer server;
    const QTemporaryDir dir;
    const QByteArray noCard = dir.filePath(QStringLiteral("no-card.ini")).toLocal8Bit();
    const QByteArray card = QByteArray(TARVO_CARD_FOLDER) + '/' + cardFile.toLocal8Bit();
    TEnvVar cardOnReader("TARVO_IDCARD_FILE", noCard);

    TFormAddStu editor;
    HandOver(editor, 0, server.BaseUrl(), LoginSession(server.BaseUrl()));
    editor.show();
    QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"读卡器开启"));
    QCOMPARE(editor.FReadState, 0);
    QVERIFY(!editor.TimerRead.isActive());
    QCOMPARE(editor.TimerRead.interval(), 1000);
    // From here the ticks come faster than once a second.
    editor.TimerRead.setInterval(10);

    QTest::mouseClick(editor.ToolbarBtnRead, Qt::LeftButton);
    QCOMPARE(editor.FReadState, 1);
    QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"身份证读取中"));
    QVERIFY(editor.TimerRead.isActive());
    // A pass without a card: the reader's serial comes, reading goes on.
    QTRY_VERIFY(!editor.FDeviceSerial.empty());
    QCOMPARE(editor.FReadState, 1);
    QVERIFY(editor.EditName->text().isEmpty());
    // A click while reading changes nothing.
    QTest::mouseClick(editor.ToolbarBtnRead, Qt::LeftButton);
    QCOMPARE(editor.FReadState, 1);
    QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"身份证读取中"));
    QVERIFY(editor.TimerRead.isActive());

    // The card is laid on the reader.
    cardOnReader.Set(card);
    QTRY_COMPARE(editor.FReadState, 2);
    QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"重新读取"));
    QVERIFY(!editor.TimerRead.isActive());
    QCOMPARE(editor.EditName->text(), expected[0]);
    QCOMPARE(editor.EditIDCardNum->text(), expected[1]);
    const SStuInfo& read = editor.FCard;
    QCOMPARE((QStringList{ToQ(read.Name), ToQ(read.IDCardNum), ToQ(read.Sex), ToQ(read.Nation),
                          ToQ(read.Born), ToQ(read.Address), ToQ(read.GrantDept),
                          ToQ(read.UserLifeBegin), ToQ(read.UserLifeEnd)}),
             expected);
    QVERIFY(ToQ(read.PhotoFile).startsWith(QDir::tempPath() + QLatin1Char('/')));
    QImage file;
    QVERIFY(file.load(ToQ(read.PhotoFile), "BMP"));
    QVERIFY(!PictureEmpty(editor));
    QCOMPARE(Rgb(editor.ImageHead->pixmap().toImage()), Rgb(file));

    // Reading again empties the card first, then takes it anew.
    cardOnReader.Set(noCard);
    QTest::mouseClick(editor.ToolbarBtnRead, Qt::LeftButton);
    QCOMPARE(editor.FReadState, 1);
    QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"身份证读取中"));
    QCOMPARE(Fields(editor), (QStringList{QString(), QString(), QString()}));
    QVERIFY(PictureEmpty(editor));
    QCOMPARE(CardTexts(editor.FCard), CardTexts(SStuInfo{}));
    cardOnReader.Set(card);
    QTRY_COMPARE(editor.FReadState, 2);

    const std::string serial = editor.FDeviceSerial;
    const std::string photoPath = editor.FCard.PhotoFile;
    const std::string photo = ReadFileBytes(photoPath);
    QVERIFY(photo.starts_with("BM"));

    editor.EditUserAccount->setText(QStringLiteral("13912340021"));
    {
        QStringList atQuestion;
        TModalScript script;
        script.Box(QMessageBox::Ok).Box(QMessageBox::Yes, [&](const SBox&) {
            atQuestion = Fields(editor);
        });
        QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
        CHECK_SCRIPT(script);
        QVERIFY(script.Boxes[0].Text.startsWith(Q(u8"添加学员成功！")));
        QCOMPARE(atQuestion, (QStringList{QString(), QString(), QString()}));
    }
    // Yes: open, the card gone, the reading state and the serial kept.
    QVERIFY(editor.isVisible());
    QVERIFY(PictureEmpty(editor));
    QCOMPARE(CardTexts(editor.FCard), CardTexts(SStuInfo{}));
    QCOMPARE(editor.FReadState, 2);
    QCOMPARE(editor.ToolbarBtnRead->text(), Q(u8"重新读取"));
    QCOMPARE(editor.FDeviceSerial, serial);

    // The card's data and the photo's bytes as the server stored them.
    const auto stored = server.StudentByAccount("13912340021");
    QVERIFY(stored);
    QCOMPARE(
        (QStringList{
            QString::fromStdString(stored->Name), QString::fromStdString(stored->IdCardNum),
            QString::fromStdString(stored->Sex), QString::fromStdString(stored->Nation),
            QString::fromStdString(stored->Born), QString::fromStdString(stored->Address),
            QString::fromStdString(stored->GrantDept), QString::fromStdString(stored->LifeBegin),
            QString::fromStdString(stored->LifeEnd)}),
        expected);
    QCOMPARE(stored->DeviceSerial, Utf8(serial));
    QCOMPARE(stored->PhotoPath, Utf8(photoPath));
    QVERIFY(stored->Photo);
    QVERIFY(*stored->Photo == photo);

    // The next student, typed without reading: no card data, no photo.
    editor.EditUserAccount->setText(QStringLiteral("13912340022"));
    editor.EditName->setText(Q(u8"手填学员"));
    TModalScript next;
    next.Box(QMessageBox::Ok).Box(QMessageBox::No);
    QTest::mouseClick(editor.BtnAdd, Qt::LeftButton);
    CHECK_SCRIPT(next);
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QVERIFY(!editor.isVisible());
    const auto typed = server.StudentByAccount("13912340022");
    QVERIFY(typed);
    QCOMPARE(typed->Name, U8(u8"手填学员"));
    const std::vector<std::string> card2{typed->IdCardNum, typed->Sex,     typed->Nation,
                                         typed->Born,      typed->Address, typed->GrantDept,
                                         typed->LifeBegin, typed->LifeEnd, typed->PhotoPath};
    QCOMPARE(card2, std::vector<std::string>(card2.size()));
    QVERIFY(!typed->Photo);
    QCOMPARE(typed->DeviceSerial, Utf8(serial));
}

void TestStudentEditor::changePhoneNumber() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    // Every third demo student has a photo; the third row is one of them.
    form->DBGridDB->selectRow(2);
    const long long id = PageCell(*form, 2, "Id").toLongLong();
    const QString account = PageCell(*form, 2, "Account");
    const QString name = PageCell(*form, 2, "Name");
    const auto before = server.StudentById(id);
    QVERIFY(before && before->Photo);
    QImage photo;
    QVERIFY(photo.loadFromData(QByteArray::fromStdString(*before->Photo), "BMP"));

    int result = -1;
    bool looked = false;
    TModalScript script;
    script
        .On<TFormAddStu>([&](TFormAddStu& editor) {
            QObject::connect(&editor, &QDialog::finished, [&result](int r) { result = r; });
            QCOMPARE(editor.windowTitle(), Q(u8"修改学员"));
            QCOMPARE(editor.lb_title->text(), Q(u8"修改学员"));
            QCOMPARE(int(editor.FMode), 1);
            QCOMPARE(static_cast<long long>(editor.FStuId), id);
            QCOMPARE(editor.EditUserAccount->text(), account);
            QCOMPARE(editor.EditName->text(), name);
            QVERIFY(editor.EditName->isReadOnly());
            QVERIFY(editor.ToolbarBtnRead->isHidden());
            QVERIFY(!editor.ToolbarBtnRead->isEnabled());
            QVERIFY(editor.BtnAdd->isHidden());
            QVERIFY(!editor.BtnModify->isHidden());
            QVERIFY(!PictureEmpty(editor));
            QCOMPARE(Rgb(editor.ImageHead->pixmap().toImage()), Rgb(photo));
            looked = true;
            editor.EditUserAccount->setText(QStringLiteral("13912340031"));
            QTest::mouseClick(editor.BtnModify, Qt::LeftButton);
        })
        .Box(QMessageBox::Ok);
    QTest::mouseClick(form->RzButton1, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QVERIFY(looked);
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Warning);
    QCOMPARE(script.Boxes[0].Text, Q(u8"更绑手机号成功！"));
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(form->RzButton1->isEnabled());

    const auto after = server.StudentById(id);
    QVERIFY(after);
    QCOMPARE(after->Account, std::string("13912340031"));
    QCOMPARE(after->Name, before->Name);
    // The grid shows the old number until the next load.
    QCOMPARE(PageCell(*form, 2, "Account"), account);
}

void TestStudentEditor::changeRefused() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    const long long id = PageCell(*form, 5, "Id").toLongLong();
    const QString taken = PageCell(*form, 6, "Account");

    int result = -1;
    bool stillOpen = false;
    QString kept;
    TModalScript script;
    script
        .On<TFormAddStu>([&](TFormAddStu& editor) {
            QObject::connect(&editor, &QDialog::finished, [&result](int r) { result = r; });
            QCOMPARE(static_cast<long long>(editor.FStuId), id);
            editor.EditUserAccount->setText(taken);
            QTest::mouseClick(editor.BtnModify, Qt::LeftButton);
        })
        .Box(QMessageBox::Ok)
        .On<TFormAddStu>([&](TFormAddStu& editor) {
            stillOpen = editor.isVisible();
            kept = editor.EditUserAccount->text();
            editor.close();
        });
    // A double click on the row opens the editor in change mode.
    QTableView& grid = *form->DBGridDB;
    const QPoint cell = grid.visualRect(grid.model()->index(5, 1)).center();
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes[0].Text, Q(u8"该手机号码已被其他学员使用！"));
    QVERIFY(stillOpen);
    QCOMPARE(kept, taken);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(QString::fromStdString(server.StudentById(id)->Account),
             PageCell(*form, 5, "Account"));
}

void TestStudentEditor::changeSendsStudentId() {
    const testsupport::ScriptedServer server([](const testsupport::ReceivedRequest& request) {
        return request.target == "/amodifystu" ? JsonReply(1, Gbk(u8"更绑手机号成功！"))
                                               : JsonReply(0, Gbk(u8"该学员没有照片"));
    });
    TFormAddStu editor;
    HandOver(editor, 1, server.Url(""), LoopbackSession, 43);
    editor.EditUserAccount->setText(QStringLiteral("13912345000"));
    editor.EditName->setText(Q(u8"王伟"));
    editor.show();

    // The photo is asked for with the identifier as a JSON number...
    const auto pictures = RequestsTo(server.Requests(), "/agetpicdata");
    QCOMPARE(pictures.size(), std::size_t{1});
    const auto picture = RequestPayload(pictures[0], LoopbackSession);
    QVERIFY(picture);
    QCOMPARE(picture->Member("stuid")->Value().Kind(), Json::TValueKind::Integer);
    QCOMPARE(picture->Member("stuid")->Value().AsString(), std::string("43"));
    QVERIFY(PictureEmpty(editor));

    // ...the change with it as decimal text.
    editor.EditUserAccount->setText(QStringLiteral("13912340041"));
    TModalScript script;
    script.Box(QMessageBox::Ok);
    QTest::mouseClick(editor.BtnModify, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    const auto changes = RequestsTo(server.Requests(), "/amodifystu");
    QCOMPARE(changes.size(), std::size_t{1});
    const auto change = RequestPayload(changes[0], LoopbackSession);
    QVERIFY(change);
    QCOMPARE(change->Member("username")->Value().AsString(), std::string("13912340041"));
    QCOMPARE(change->Member("stuid")->Value().Kind(), Json::TValueKind::String);
    QCOMPARE(change->Member("stuid")->Value().AsString(), std::string("43"));
}
