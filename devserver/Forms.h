// Reading request bodies and cookies: URL-encoded forms, multipart/form-data
// bodies and the Cookie header.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::devserver {

struct FormPart {
    std::string Value;
    std::string FileName;    // empty for a plain field
    std::string ContentType; // of a file part; may be empty
};

// Field name -> part; the first of several parts with one name wins.
using Form = std::map<std::string, FormPart, std::less<>>;

// name=value pairs joined by '&', percent-decoded, '+' as a blank.
Form ParseUrlEncoded(std::string_view body);

// A multipart/form-data body with the boundary given in `contentType`.
// Nothing when the boundary is missing or the body is not well formed.
std::optional<Form> ParseMultipart(std::string_view body, std::string_view contentType);

// Either of the two, chosen by the Content-Type; no Content-Type counts as
// URL-encoded.
std::optional<Form> ParseForm(std::string_view body, std::string_view contentType);

// The text without the blanks and control characters (bytes up to the space)
// at its ends, as the client trims what the agent typed.
std::string Trimmed(std::string_view text);

// The value of the cookie `name` in a Cookie header ("a=1; b=2").
std::optional<std::string> CookieValue(std::string_view header, std::string_view name);

} // namespace tarvo::devserver
