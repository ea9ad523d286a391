#include "Forms.h"

#include "AsciiText.h"
#include "HexDigits.h"

#include <algorithm>

namespace tarvo::devserver {

namespace {

std::string PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && tarvo::hex::DigitValue(text[i + 1]) >= 0 &&
                   tarvo::hex::DigitValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(tarvo::hex::DigitValue(text[i + 1]) * 16 +
                                            tarvo::hex::DigitValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

using tarvo::ascii::EqualsNoCase;
using tarvo::ascii::StartsWithNoCase;
using tarvo::ascii::TrimHeaderBlanks;

// The parameter `name` of a header value such as
// form-data; name="data"; filename="a.bmp" (quotes optional).
std::optional<std::string> HeaderParameter(std::string_view value, std::string_view name) {
    std::size_t i = value.find(';');
    while (i != std::string_view::npos && i < value.size()) {
        ++i; // past ';'
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) {
            ++i;
        }
        const std::size_t keyStart = i;
        while (i < value.size() && value[i] != '=' && value[i] != ';') {
            ++i;
        }
        const std::string_view key = TrimHeaderBlanks(value.substr(keyStart, i - keyStart));
        std::string result;
        if (i < value.size() && value[i] == '=') {
            ++i;
            if (i < value.size() && value[i] == '"') {
                // No backslash escapes: file names are Windows paths.
                for (++i; i < value.size() && value[i] != '"'; ++i) {
                    result.push_back(value[i]);
                }
                if (i < value.size()) {
                    ++i; // past the closing quote
                }
            }
            const std::size_t tokenStart = i;
            while (i < value.size() && value[i] != ';') {
                ++i;
            }
            result += std::string(TrimHeaderBlanks(value.substr(tokenStart, i - tokenStart)));
        }
        if (EqualsNoCase(key, name)) {
            return result;
        }
    }
    return std::nullopt;
}

} // namespace

Form ParseUrlEncoded(std::string_view body) {
    Form form;
    while (!body.empty()) {
        const auto amp = body.find('&');
        const std::string_view pair = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        const auto eq = pair.find('=');
        std::string name = PercentDecode(pair.substr(0, eq));
        std::string value =
            eq == std::string_view::npos ? std::string() : PercentDecode(pair.substr(eq + 1));
        form.try_emplace(std::move(name), FormPart{std::move(value), {}, {}});
    }
    return form;
}

std::optional<Form> ParseMultipart(std::string_view body, std::string_view contentType) {
    const auto boundary = HeaderParameter(contentType, "boundary");
    if (!boundary || boundary->empty() || boundary->size() > 200) {
        return std::nullopt;
    }
    const std::string dashBoundary = "--" + *boundary;
    const std::string delimiter = "\r\n" + dashBoundary;

    // The first boundary line may be preceded by a preamble.
    std::size_t pos;
    if (body.substr(0, dashBoundary.size()) == dashBoundary) {
        pos = dashBoundary.size();
    } else {
        const auto first = body.find(delimiter);
        if (first == std::string_view::npos) {
            return std::nullopt;
        }
        pos = first + delimiter.size();
    }

    Form form;
    for (;;) {
        // After a boundary: "--" ends the body, CRLF starts a part.
        if (body.substr(pos, 2) == "--") {
            return form;
        }
        // Transport padding (blanks) may follow the boundary.
        while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) {
            ++pos;
        }
        if (body.substr(pos, 2) != "\r\n") {
            return std::nullopt;
        }
        pos += 2;
        const auto headEnd = body.find("\r\n\r\n", pos);
        const auto bodyStart = headEnd == std::string_view::npos ? headEnd : headEnd + 4;
        // A part without headers starts straight with the blank line.
        std::string_view head;
        std::size_t contentStart;
        if (body.substr(pos, 2) == "\r\n") {
            contentStart = pos + 2;
        } else if (headEnd == std::string_view::npos) {
            return std::nullopt;
        } else {
            head = body.substr(pos, headEnd - pos);
            contentStart = bodyStart;
        }
        const auto contentEnd = body.find(delimiter, contentStart);
        if (contentEnd == std::string_view::npos) {
            return std::nullopt;
        }

        std::optional<std::string> name;
        FormPart part;
        while (!head.empty()) {
            const auto eol = head.find("\r\n");
            const std::string_view line = head.substr(0, eol);
            head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
            const auto colon = line.find(':');
            if (colon == std::string_view::npos) {
                return std::nullopt;
            }
            const std::string_view key = TrimHeaderBlanks(line.substr(0, colon));
            const std::string_view value = TrimHeaderBlanks(line.substr(colon + 1));
            if (EqualsNoCase(key, "Content-Disposition")) {
                if (!StartsWithNoCase(value, "form-data")) {
                    return std::nullopt;
                }
                name = HeaderParameter(value, "name");
                part.FileName = HeaderParameter(value, "filename").value_or("");
            } else if (EqualsNoCase(key, "Content-Type")) {
                part.ContentType = std::string(value);
            }
        }
        if (!name) {
            return std::nullopt;
        }
        part.Value = std::string(body.substr(contentStart, contentEnd - contentStart));
        form.try_emplace(std::move(*name), std::move(part));
        pos = contentEnd + delimiter.size();
    }
}

std::optional<Form> ParseForm(std::string_view body, std::string_view contentType) {
    if (StartsWithNoCase(TrimHeaderBlanks(contentType), "multipart/form-data")) {
        return ParseMultipart(body, contentType);
    }
    return ParseUrlEncoded(body);
}

std::optional<std::string> CookieValue(std::string_view header, std::string_view name) {
    while (!header.empty()) {
        const auto semi = header.find(';');
        const std::string_view pair = TrimHeaderBlanks(header.substr(0, semi));
        header = semi == std::string_view::npos ? std::string_view() : header.substr(semi + 1);
        const auto eq = pair.find('=');
        if (eq != std::string_view::npos && TrimHeaderBlanks(pair.substr(0, eq)) == name) {
            return std::string(TrimHeaderBlanks(pair.substr(eq + 1)));
        }
    }
    return std::nullopt;
}

std::string Trimmed(std::string_view text) {
    return std::string(tarvo::ascii::TrimControls(text));
}

} // namespace tarvo::devserver
