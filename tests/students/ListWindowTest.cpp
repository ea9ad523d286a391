#include "ListWindowTest.h"

#include "CodePage.h"
#include "Json.h"
#include "LoopbackServer.h"
#include "QtGbk.h"
#include "Studentcalls.h"
#include "StudentsSupport.h"
#include "UnitAdminBase.h"
#include "UnitStuList.h"
#include "UnitUserinfo.h"
#include "WinHttpClass.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPainter>
#include <QTest>

using namespace studentstest;

namespace {

const QColor NumberColumn(206, 221, 240);
const QColor OddRow(255, 255, 255);
const QColor EvenRow(247, 250, 253);
const QColor SelectedRow(255, 240, 193);

QString PageLabel(int page) {
    return Q(u8"第 ") + QString::number(page) + Q(u8" 页");
}

// The pager as the agent sees it.
struct SPager {
    QString Label;
    bool Up;
    bool Down;
    int Rows;
};

SPager Pager(const TFormStuList& form) {
    return {form.LabelCurpage->text(), form.RzToolbarBtnPageUp->isEnabled(),
            form.RzToolbarBtnPageDown->isEnabled(), GridRows(form)};
}

void CheckPager(const TFormStuList& form, int page, int rows, bool up, bool down) {
    const SPager pager = Pager(form);
    QCOMPARE(form.FCurPage, page);
    QCOMPARE(pager.Label, PageLabel(page));
    QCOMPARE(pager.Rows, rows);
    QCOMPARE(pager.Up, up);
    QCOMPARE(pager.Down, down);
}

void ClickPageDown(TFormStuList& form) {
    QTest::mouseClick(form.RzToolbarBtnPageDown, Qt::LeftButton);
}

void ClickPageUp(TFormStuList& form) {
    QTest::mouseClick(form.RzToolbarBtnPageUp, Qt::LeftButton);
}

QString Colour(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y)).name();
}

// The row number of `row` must be drawn as the grid's font at 9 points
// draws it from x = (column width - 6 * digits) / 2, y = cell top + 2.
void CheckRowNumber(const QImage& image, const QTableView& grid, int row) {
    const int top = grid.rowViewportPosition(row);
    const int height = grid.rowHeight(row);
    const int width = grid.columnWidth(0);
    const QString number = QString::number(row + 1);
    const int x = (width - 6 * static_cast<int>(number.size())) / 2;

    QPixmap reference(width, height);
    reference.fill(NumberColumn);
    {
        QPainter painter(&reference);
        QFont font = grid.font();
        font.setPointSize(9);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRect(x, 2, width, height - 2), Qt::AlignLeft | Qt::AlignTop, number);
    }
    // The cell without its grid lines on the right and at the bottom.
    const QRect drawn = DarkBox(image, QRect(0, top, width - 1, height - 1));
    QVERIFY2(!drawn.isNull(), qPrintable(QStringLiteral("no number in row %1").arg(row + 1)));
    const QImage expected = reference.toImage();
    QCOMPARE(drawn, DarkBox(expected, QRect(0, 0, width - 1, height - 1)).translated(0, top));
    QVERIFY(drawn.left() >= x);
}

// Background of the first `rows` rows: column 0 always its own colour, the
// other columns by selection, then odd or even record number.
void CheckBackgrounds(const QImage& image, const QTableView& grid, int rows,
                      const QList<int>& selectedRecords) {
    for (int row = 0; row < rows; ++row) {
        const int record = row + 1;
        const int top = grid.rowViewportPosition(row);
        QCOMPARE(Colour(image, 2, top + grid.rowHeight(row) / 2), NumberColumn.name());
        const QColor expected = selectedRecords.contains(record) ? SelectedRow
                                : record % 2 == 1                ? OddRow
                                                                 : EvenRow;
        // Right ends of the name, phone and password cells: clear of text.
        for (int column = 1; column <= 3; ++column) {
            const int x = grid.columnViewportPosition(column) + grid.columnWidth(column) - 4;
            QVERIFY2(Colour(image, x, top + 2) == expected.name(),
                     qPrintable(QStringLiteral("record %1, column %2: %3, expected %4")
                                    .arg(record)
                                    .arg(column)
                                    .arg(Colour(image, x, top + 2), expected.name())));
        }
    }
}

QImage GridImage(const TFormStuList& form) {
    return form.DBGridDB->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

SCallContext Context(Winhttpclass::THTTP& http, const std::string& url, const std::string& sid) {
    return SCallContext{http, url, sid};
}

// Whether any pixel of the widget has exactly this colour.
bool HasColour(QWidget& widget, const QColor& colour) {
    const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == colour.rgb())
                return true;
    return false;
}

} // namespace

void TestStudentList::paging() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    QCOMPARE(form->LabelUserAccount->text(), Q(u8"在线用户：") + QLatin1String(DemoAccount));
    // Newest first: a full page enables "下一页"; "上一页" is off on page 1.
    CheckPager(*form, 1, 30, false, true);
    QCOMPARE(PageCell(*form, 0, "Id"), QStringLiteral("45"));
    QCOMPARE(PageCell(*form, 29, "Id"), QStringLiteral("16"));

    // "上一页" on page 1 loads nothing, clicked or run: a load would now come
    // back empty, for nothing matches this search.
    form->EditCondition->setText(QStringLiteral("19999999999"));
    ClickPageUp(*form);
    form->ChangePage(-1);
    CheckPager(*form, 1, 30, false, true);
    form->EditCondition->clear();

    ClickPageDown(*form);
    CheckPager(*form, 2, 15, true, false);
    QCOMPARE(PageCell(*form, 0, "Id"), QStringLiteral("15"));
    QCOMPARE(PageCell(*form, 14, "Id"), QStringLiteral("1"));
    // The last page: "下一页" is off and a click on it does nothing.
    ClickPageDown(*form);
    CheckPager(*form, 2, 15, true, false);

    ClickPageUp(*form);
    CheckPager(*form, 1, 30, false, true);
    QCOMPARE(PageCell(*form, 0, "Id"), QStringLiteral("45"));
}

void TestStudentList::pageAfterFullLastPage() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    // 30 students left: page 1 is full and the last one.
    const auto http = NewPreparedHttp();
    for (int id = 1; id <= 15; ++id)
        QCOMPARE(
            DeleteStudent(Context(*http, server.BaseUrl(), form->FGUID), std::to_string(id)).Code,
            1);
    QTest::mouseClick(form->BtnStuList, Qt::LeftButton);
    CheckPager(*form, 1, 30, false, true);

    ClickPageDown(*form);
    CheckPager(*form, 2, 0, true, false);
}

void TestStudentList::search_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("contained"); // in every row's searched field

    QTest::newRow("phone number, spaces around")
        << 0 << QStringLiteral("  13912345000 ") << 1 << QStringLiteral("13912345000");
    QTest::newRow("part of a phone number")
        << 0 << QStringLiteral("5037") << 1 << QStringLiteral("5037");
    QTest::newRow("surname, spaces around")
        << 1 << QStringLiteral(" \t") + Q(u8"王") + QStringLiteral("  ") << 3 << Q(u8"王");
    QTest::newRow("whole name") << 1 << Q(u8"王伟") << 1 << Q(u8"王伟");
    QTest::newRow("a name searched as a phone number") << 0 << Q(u8"王") << 0 << QString();
    QTest::newRow("only spaces: everybody") << 1 << QStringLiteral("    ") << 30 << QString();
    QTest::newRow("no such number") << 0 << QStringLiteral("19999") << 0 << QString();
}

void TestStudentList::search() {
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(int, rows);
    QFETCH(QString, contained);

    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    ClickPageDown(*form);
    form->cb_SearchType->setCurrentIndex(type);
    form->EditCondition->setText(text);
    QTest::mouseClick(form->BtnStuList, Qt::LeftButton);

    CheckPager(*form, 1, rows, false, rows == 30);
    const char* field = type == 0 ? "Account" : "Name";
    for (int row = 0; row < rows; ++row)
        QVERIFY2(PageCell(*form, row, field).contains(contained),
                 qPrintable(PageCell(*form, row, field)));
}

void TestStudentList::searchSendsTrimmedText_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("findfield");
    QTest::addColumn<QString>("findval");

    const QString phone = QStringLiteral("1");
    const QString name = QStringLiteral("2");
    QTest::newRow("only spaces") << 0 << QStringLiteral("     ") << phone << QString();
    QTest::newRow("tab and spaces around a number")
        << 0 << QStringLiteral("\t13912345000  ") << phone << QStringLiteral("13912345000");
    QTest::newRow("name with spaces inside kept")
        << 1 << QStringLiteral("  ") + Q(u8"欧阳 娜") + QStringLiteral(" ") << name
        << Q(u8"欧阳 娜");
}

void TestStudentList::searchSendsTrimmedText() {
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(QString, findfield);
    QFETCH(QString, findval);

    const testsupport::ScriptedServer server(
        [](const testsupport::ReceivedRequest&) { return JsonReply(1, PagePacket(30, 90)); });
    const auto form = OpenUnshown(server.Url(""));
    form->cb_SearchType->setCurrentIndex(type);
    form->EditCondition->setText(text);
    form->BtnStuListClick();
    form->ChangePage(+1);

    const auto pages = RequestsTo(server.Requests(), "/astulist");
    QCOMPARE(static_cast<int>(pages.size()), 2);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const auto payload = RequestPayload(pages[i], LoopbackSession);
        QVERIFY(payload != nullptr);
        QCOMPARE(ToQ(payload->Member("page")->Value().AsString()), QString::number(i + 1));
        QCOMPARE(ToQ(payload->Member("pagenum")->Value().AsString()), QStringLiteral("30"));
        QCOMPARE(ToQ(payload->Member("findfield")->Value().AsString()), findfield);
        QCOMPARE(ToQ(payload->Member("findval")->Value().AsString()), findval);
    }
}

void TestStudentList::pageButtonsUseNewText() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    // A new search text with a page button: the page goes on, the text is
    // the new one (the three 王 fit on page 1, page 2 is empty).
    form->cb_SearchType->setCurrentIndex(1);
    form->EditCondition->setText(Q(u8"王"));
    ClickPageDown(*form);
    CheckPager(*form, 2, 0, true, false);
    ClickPageUp(*form);
    CheckPager(*form, 1, 3, false, false);

    // Without a text again: page 2 of everybody; "刷新" goes back to page 1.
    form->EditCondition->clear();
    form->ChangePage(+1);
    CheckPager(*form, 2, 15, true, false);
    QTest::mouseClick(form->BtnStuList, Qt::LeftButton);
    CheckPager(*form, 1, 30, false, true);
    QVERIFY(form->BtnStuList->isEnabled());
}

void TestStudentList::deleteConfirmed() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    ClickPageDown(*form);
    // The current row and one more selected: only the current one goes.
    form->DBGridDB->selectRow(2);
    form->DBGridDB->selectionModel()->select(form->DBGridDB->model()->index(3, 0),
                                             QItemSelectionModel::Select |
                                                 QItemSelectionModel::Rows);
    const long long id = PageCell(*form, 2, "Id").toLongLong();
    const long long other = PageCell(*form, 3, "Id").toLongLong();
    const QString name = PageCell(*form, 2, "Name");

    TModalScript script;
    SPager whenShown{};
    script.Box(QMessageBox::Yes).Box(QMessageBox::Ok, [&](const SBox&) {
        whenShown = Pager(*form);
    });
    QTest::mouseClick(form->BtnDel, Qt::LeftButton);
    CHECK_SCRIPT(script);

    QCOMPARE(script.Boxes[0].Title, Q(u8"提示"));
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Question);
    QCOMPARE(script.Boxes[0].Text, Q(u8"删除学员“") + name + Q(u8"”，是否继续？"));
    QCOMPARE(script.Boxes[1].Title, Q(u8"提示"));
    QCOMPARE(script.Boxes[1].Icon, QMessageBox::Warning);
    QCOMPARE(script.Boxes[1].Text, Q(u8"删除成功！"));
    // Page 1 was loaded before the box came up.
    QCOMPARE(whenShown.Label, PageLabel(1));
    QCOMPARE(whenShown.Rows, 30);
    CheckPager(*form, 1, 30, false, true);

    QVERIFY(!server.StudentById(id));
    QVERIFY(server.StudentById(other));
    QCOMPARE(server.StudentCount(), DemoStudents - 1);
}

void TestStudentList::deleteStaleRow() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    ClickPageDown(*form);
    form->DBGridDB->selectRow(0);
    const QString id = PageCell(*form, 0, "Id");
    // Deleted elsewhere: the row on screen is stale, the server refuses.
    const auto http = NewPreparedHttp();
    QCOMPARE(DeleteStudent(Context(*http, server.BaseUrl(), form->FGUID), id.toStdString()).Code,
             1);

    TModalScript script;
    script.Box(QMessageBox::Yes).Box(QMessageBox::Ok);
    form->BtnDelClick();
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes[1].Text, Q(u8"删除失败！"));
    QCOMPARE(script.Boxes[1].Icon, QMessageBox::Warning);
    // The list is as it was.
    CheckPager(*form, 2, 15, true, false);
    QCOMPARE(PageCell(*form, 0, "Id"), id);
    QCOMPARE(server.StudentCount(), DemoStudents - 1);
}

void TestStudentList::gridDrawing() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    QTableView& grid = *form->DBGridDB;
    for (const int row : {1, 3})
        grid.selectionModel()->select(grid.model()->index(row, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const QImage page1 = GridImage(*form);
    CheckBackgrounds(page1, grid, 8, {2, 4});

    // Page 2 numbers its rows from 1 again; the selection went with page 1.
    ClickPageDown(*form);
    const QImage page2 = GridImage(*form);
    CheckBackgrounds(page2, grid, 15, {});
    const QRect firstNumber(0, grid.rowViewportPosition(0), grid.columnWidth(0), grid.rowHeight(0));
    QVERIFY(!DarkBox(page2, firstNumber).isNull());
    QCOMPARE(page2.copy(firstNumber), page1.copy(firstNumber));
    // Below the last row no cell is drawn.
    const int below = grid.rowViewportPosition(14) + grid.rowHeight(14) + 5;
    QVERIFY(Colour(page2, 2, below) != NumberColumn.name());
}

void TestStudentList::gridRowNumbers() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    const QTableView& grid = *form->DBGridDB;
    const QImage page1 = GridImage(*form);
    for (const int row : {0, 1, 8, 9, 10, 17})
        CheckRowNumber(page1, grid, row);
    ClickPageDown(*form);
    const QImage page2 = GridImage(*form);
    for (const int row : {0, 9, 14})
        CheckRowNumber(page2, grid, row);
}

void TestStudentList::accountWindow() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());

    // What the account window shows, in the order of the labels below.
    const auto shown = [&form](QStringList& labels) {
        TModalScript script;
        script.On<TFormUserinfo>([&labels](TFormUserinfo& window) {
            for (const char* label :
                 {"LabelUserAccount", "LabelName", "LabelUsedCount", "LabelUsableCount"})
                labels << window.findChild<QLabel*>(QLatin1String(label))->text();
            window.reject();
        });
        QTest::mouseClick(form->RzButton2, Qt::LeftButton);
        CHECK_SCRIPT(script);
    };
    QStringList before;
    shown(before);
    QCOMPARE(before, (QStringList{QLatin1String(DemoAccount), Q(u8"演示代理商"),
                                  QString::number(DemoStudents),
                                  QString::number(DemoQuota - DemoStudents)}));

    SNewStudent student;
    student.Account = "13912340077";
    student.Name = Gbk(u8"新学员");
    const auto http = NewPreparedHttp();
    QCOMPARE(AddStudent(Context(*http, server.BaseUrl(), form->FGUID), student).Code, 1);
    QStringList after;
    shown(after);
    QCOMPARE(after, (QStringList{QLatin1String(DemoAccount), Q(u8"演示代理商"),
                                 QString::number(DemoStudents + 1),
                                 QString::number(DemoQuota - DemoStudents - 1)}));
}

void TestStudentList::updateLinkCurrent() {
    const TDemoServer server;
    const auto form = OpenLoggedIn(server.BaseUrl());
    TClickArea& link = *form->lblUpInfo;
    const QColor linkColour(0, 73, 188);
    const QColor windowText = form->palette().color(QPalette::WindowText);
    QVERIFY(linkColour != windowText);
    QVERIFY(HasColour(link, linkColour));

    // Over the link: the hand; away from it: the window text's colour and
    // the default cursor.
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&link, &enter);
    QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    QVERIFY(!link.testAttribute(Qt::WA_SetCursor));
    QVERIFY(!HasColour(link, linkColour));
    QVERIFY(HasColour(link, windowText));

    TModalScript script;
    script.Box(QMessageBox::Ok);
    QTest::mouseClick(&link, Qt::LeftButton);
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{1});
    QCOMPARE(script.Boxes[0].Title, Q(u8"提示"));
    QCOMPARE(script.Boxes[0].Icon, QMessageBox::Warning);
    QCOMPARE(script.Boxes[0].Text, Q(u8"已是最新版本，不需要更新！"));
}

void TestStudentList::updateLinkAnswers_data() {
    QTest::addColumn<QStringList>("serverArgs"); // empty: no server at all
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");

    QTest::newRow("newer version, no link")
        << QStringList{"--latest-version", "9.0.0.0"} << Q(u8"发现新版本 9.0.0.0。")
        << int(QMessageBox::Warning);
    QTest::newRow("newer version with a link: asked, No")
        << QStringList{"--latest-version", "9.0.0.0", "--upgrade-url",
                       "http://127.0.0.1:9/TarvoAdmin.zip"}
        << Q(u8"发现新版本 9.0.0.0，是否现在下载？") << int(QMessageBox::Question);
    QTest::newRow("version no longer allowed, no link")
        << QStringList{"--latest-version", "9.0.0.0", "--oldest-version", "9.0.0.0"}
        << Q(u8"当前版本已停止使用，必须更新到最新版本 9.0.0.0。") << int(QMessageBox::Warning);
    QTest::newRow("no server") << QStringList{} << Q(u8"访问服务器失败，请稍后重试！")
                               << int(QMessageBox::Warning);
}

void TestStudentList::updateLinkAnswers() {
    QFETCH(QStringList, serverArgs);
    QFETCH(QString, text);
    QFETCH(int, icon);

    std::vector<std::string> args;
    for (const QString& arg : serverArgs)
        args.push_back(arg.toStdString());
    std::unique_ptr<TDemoServer> server;
    if (!args.empty())
        server = std::make_unique<TDemoServer>(args);
    const auto form = OpenUnshown(server ? server->BaseUrl() : DeadUrl());

    TModalScript script;
    script.Box(icon == QMessageBox::Question ? QMessageBox::No : QMessageBox::Ok);
    form->lblUpInfoClick();
    CHECK_SCRIPT(script);
    QCOMPARE(script.Boxes.size(), std::size_t{1});
    QCOMPARE(script.Boxes[0].Title, Q(u8"提示"));
    QCOMPARE(script.Boxes[0].Text, text);
    QCOMPARE(int(script.Boxes[0].Icon), icon);
}
