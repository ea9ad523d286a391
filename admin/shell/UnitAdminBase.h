// The base of the login window: an HTTP session and a server base URL of
// its own.
#pragma once

#include "UnitBase.h"

#include <memory>
#include <string>

namespace Winhttpclass {
class THTTP;
}

class TFormAdminBase : public TFormBase {
    Q_OBJECT

public:
    explicit TFormAdminBase(QWidget* parent = nullptr);
    ~TFormAdminBase() override;

    std::unique_ptr<Winhttpclass::THTTP> FHttp;
    std::string FServerUrl;
};

// A new session with four empty texts, prepared for the server's calls.
std::unique_ptr<Winhttpclass::THTTP> NewPreparedHttp();
