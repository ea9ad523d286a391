// The agent's own record and quota, fetched anew each time it is shown.
#pragma once

#include "UnitBase.h"
#include "ui_UnitUserinfo.h"

#include <string>

class TFormUserinfo : public TFormBase, public Ui::TFormUserinfo {
    Q_OBJECT

public:
    explicit TFormUserinfo(QWidget* parent = nullptr);
    ~TFormUserinfo() override;

    std::string FServerUrl;

    void FormShow() override;
};

// The account window while it is open.
extern TFormUserinfo* FormUserinfo;
