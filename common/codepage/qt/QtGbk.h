// The edge between the system's GBK texts and Qt's strings.
#pragma once

#include "CodePage.h"

#include <QString>
#include <string>
#include <string_view>

// A GBK text as a QString; bytes that are not GBK become '?'.
inline QString ToQ(std::string_view gbk) {
    const std::u16string utf16 = tarvo::cp::GbkToUtf16(gbk);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

// A QString as GBK; characters GBK cannot hold become '?'.
inline std::string FromQ(const QString& text) {
    return tarvo::cp::Utf16ToGbk(std::u16string_view(
        reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())));
}
