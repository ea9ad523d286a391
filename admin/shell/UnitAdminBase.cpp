#include "UnitAdminBase.h"

#include "Unitcommon.h"
#include "Unitfunction.h"
#include "WinHttpClass.h"

std::unique_ptr<Winhttpclass::THTTP> NewPreparedHttp() {
    auto http = std::make_unique<Winhttpclass::THTTP>("", "", "", "");
    PrepareHttp(*http);
    return http;
}

TFormAdminBase::TFormAdminBase(QWidget* parent) : TFormBase(parent) {
    FServerUrl = GetServerBaseUrl();
    FHttp = NewPreparedHttp();
}

TFormAdminBase::~TFormAdminBase() = default;
