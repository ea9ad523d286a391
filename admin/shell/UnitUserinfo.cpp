#include "UnitUserinfo.h"

#include "Agentcalls.h"
#include "Outside.h"
#include "QtGbk.h"
#include "UiServices.h"
#include "UnitAdminBase.h"
#include "Unitfunction.h"
#include "WinHttpClass.h"

TFormUserinfo* FormUserinfo = nullptr;

TFormUserinfo::TFormUserinfo(QWidget* parent) : TFormBase(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    FServerUrl = GetServerBaseUrl();
    FormUserinfo = this;
}

TFormUserinfo::~TFormUserinfo() {
    if (FormUserinfo == this)
        FormUserinfo = nullptr;
}

void TFormUserinfo::FormShow() {
    SUserInfoResult info;
    {
        const Shell::TWaitCursor wait;
        const auto http = NewPreparedHttp();
        info = GetAgentInfo(SCallContext{*http, FServerUrl, FGUID});
    }
    if (info.Name)
        LabelName->setText(ToQ(*info.Name));
    if (info.IDCardNum)
        LabelIDCardNum->setText(ToQ(*info.IDCardNum));
    if (info.Account)
        LabelUserAccount->setText(ToQ(*info.Account));
    if (info.UsableCount)
        LabelUsableCount->setText(ToQ(*info.UsableCount));
    if (info.UsedCount)
        LabelUsedCount->setText(ToQ(*info.UsedCount));
    if (!info.Message.empty()) {
        Shell::ShowWarning(info.Message);
        Log("Tarvo", "BtnDelClick", "Content: " + info.Message);
    }
}
