// The account window: the agent's record fetched at each showing.
#include "ShellSupport.h"
#include "UnitUserinfo.h"

#include <QLabel>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace shelltest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The five value labels, in the order the window writes them.
const char* const ValueLabels[] = {"LabelName", "LabelIDCardNum", "LabelUserAccount",
                                   "LabelUsableCount", "LabelUsedCount"};

std::vector<QString> Values(const TFormUserinfo& window) {
    std::vector<QString> values;
    for (const char* name : ValueLabels)
        values.push_back(Child<QLabel>(window, name)->text());
    return values;
}

const std::vector<QString> NoValues(5);

class AccountWindowTest : public ::testing::Test {
protected:
    // Shows a window for `session` on `url`; its values once shown.
    std::vector<QString> Show(const std::string& url, const std::string& session) {
        TFormUserinfo window;
        window.FGUID = session;
        window.FServerUrl = url;
        window.show();
        return Values(window);
    }

    TLogFile Log;
};

TEST_F(AccountWindowTest, ShowsTheFiveValuesOfTheServer) {
    TDevServer server;
    const std::string session = DemoSession(server.BaseUrl());
    ASSERT_EQ(session.size(), 36U);
    TModalScript script;

    EXPECT_THAT(Show(server.BaseUrl(), session),
                ElementsAre(Q(u8"演示代理商"), QStringLiteral("110101198001010015"),
                            QStringLiteral("13800138000"), QStringLiteral("155"),
                            QStringLiteral("45")));
    EXPECT_THAT(script.Unexpected(), IsEmpty());
    EXPECT_THAT(server.Paths(), ElementsAre("/alogin", "/auserinfo"));
    EXPECT_THAT(Log.Lines(), IsEmpty());
}

TEST_F(AccountWindowTest, RefusalShowsContentAndLeavesTheLabelsEmpty) {
    TDevServer server;
    TFormUserinfo window;
    window.FGUID = "00000000-0000-4000-8000-000000000000";
    window.FServerUrl = server.BaseUrl();
    std::vector<QString> behindTheBox;
    TModalScript script;
    script.Box(QMessageBox::Ok, [&] { behindTheBox = Values(window); });
    window.show();

    EXPECT_TRUE(script.Done());
    EXPECT_THAT(script.Unexpected(), IsEmpty());
    ASSERT_EQ(script.Boxes().size(), 1U);
    EXPECT_EQ(script.Boxes()[0].Title, Q(u8"提示"));
    EXPECT_EQ(script.Boxes()[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(script.Boxes()[0].Text, Q(u8"登录已失效，请重新登录！"));
    EXPECT_EQ(behindTheBox, NoValues);
    EXPECT_EQ(Values(window), NoValues);
    EXPECT_TRUE(window.isVisible());
    EXPECT_THAT(Log.Lines(), ElementsAre("Tarvo BtnDelClick: Content: 登录已失效，请重新登录！"));
}

// The identifier goes twice, as the cookie and as the plain form field; each
// showing has a session and a connection of its own.
TEST_F(AccountWindowTest, SendsTheSessionAsCookieAndFieldOnEachShowing) {
    TScriptedService service;
    service.SetJson("/auserinfo",
                    G(u8R"({"Code":1,"name":"张三","idcardnum":"110101199001011234",)"
                      u8R"("account":"13900139000","usablecount":193,"usedcount":7})"));
    TModalScript script;
    const auto first = Show(service.BaseUrl(), ScriptedSid);
    const auto second = Show(service.BaseUrl(), ScriptedSid);

    EXPECT_THAT(script.Unexpected(), IsEmpty());
    const auto expected = std::vector<QString>{Q(u8"张三"), QStringLiteral("110101199001011234"),
                                               QStringLiteral("13900139000"), QStringLiteral("193"),
                                               QStringLiteral("7")};
    EXPECT_EQ(first, expected);
    EXPECT_EQ(second, expected);
    const auto requests = service.Requests();
    ASSERT_EQ(requests.size(), 2U);
    for (const auto& request : requests) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.target, "/auserinfo");
        EXPECT_EQ(request.Header("Cookie"), std::string("SID=") + ScriptedSid + "; SType=1");
        EXPECT_THAT(FormFields(request.body),
                    ElementsAre(std::make_pair(std::string("SID"), std::string(ScriptedSid))));
    }
    EXPECT_EQ(service.Connections(), 2);
    EXPECT_NE(requests[0].connection, requests[1].connection);
}

struct SAccountFailureCase {
    const char* Name;
    bool ServerDown;
    testsupport::Reply Answer;
    const char8_t* Message; // nullptr: no box and no log line
    std::vector<QString> Labels;
};

class AccountFailureTest : public AccountWindowTest,
                           public ::testing::WithParamInterface<SAccountFailureCase> {};

TEST_P(AccountFailureTest, ShowsOnlyWhatTheRulesSay) {
    const SAccountFailureCase& c = GetParam();
    TScriptedService service;
    service.Set("/auserinfo", [&c](const testsupport::ReceivedRequest&) { return c.Answer; });
    TModalScript script;
    if (c.Message != nullptr)
        script.Box(QMessageBox::Ok);

    EXPECT_EQ(Show(c.ServerDown ? RefusingUrl() : service.BaseUrl(), ScriptedSid), c.Labels);
    EXPECT_TRUE(script.Done());
    EXPECT_THAT(script.Unexpected(), IsEmpty());
    if (c.Message != nullptr) {
        ASSERT_EQ(script.Boxes().size(), 1U);
        EXPECT_EQ(script.Boxes()[0].Text, Q(c.Message));
        EXPECT_THAT(Log.Lines(), ElementsAre("Tarvo BtnDelClick: Content: " +
                                             script.Boxes()[0].Text.toStdString()));
    } else {
        EXPECT_THAT(Log.Lines(), IsEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Account, AccountFailureTest,
    ::testing::Values(
        SAccountFailureCase{"RefusedWithCode2", false,
                            JsonReply(G(u8R"({"Code":2,"Content":"账号已停用"})")), u8"账号已停用",
                            NoValues},
        SAccountFailureCase{"ServerDown", true, {}, u8"访问服务器失败，请稍后重试！", NoValues},
        SAccountFailureCase{"NoAnswer", false, testsupport::Reply{"", testsupport::After::Reset},
                            u8"访问服务器失败，请稍后重试！", NoValues},
        SAccountFailureCase{"Status500", false,
                            testsupport::Reply{testsupport::HttpResponse(
                                500, "Internal Server Error", R"({"Code":1})")},
                            nullptr, NoValues},
        SAccountFailureCase{"EmptyAnswer", false, JsonReply(""), nullptr, NoValues},
        SAccountFailureCase{"NotJson", false, JsonReply("<html></html>"), nullptr, NoValues},
        // A member missing halfway: the values read before it are shown.
        SAccountFailureCase{
            "AccountMissing",
            false,
            JsonReply(R"({"Code":1,"name":"Li","idcardnum":"110101199001011234"})"),
            nullptr,
            {QStringLiteral("Li"), QStringLiteral("110101199001011234"), {}, {}, {}}}),
    [](const ::testing::TestParamInfo<SAccountFailureCase>& row) { return row.param.Name; });

} // namespace
} // namespace shelltest
