// ParseJSON: a GBK text to a document, through nlohmann's event parser.
#include "CodePage.h"
#include "Json.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string_view>

namespace Json {

// Receives the parser's events and grows the document; nesting is tracked on
// an explicit stack so depth is bounded before any recursion happens.
class TJSONBuilder {
public:
    using json = nlohmann::json;

    std::unique_ptr<TJSONobject> Take() {
        if (!FRoot || !FStack.empty())
            throw EJSONError("JSON text is not an object");
        return std::move(FRoot);
    }

    bool null() { return Scalar(TValue()); }
    bool boolean(bool value) { return Scalar(TValue::FromBool(value)); }
    bool number_integer(json::number_integer_t value) { return Scalar(TValue::FromInt64(value)); }
    bool number_unsigned(json::number_unsigned_t value) {
        return Scalar(TValue::FromUInt64(value));
    }
    bool number_float(json::number_float_t value, const json::string_t&) {
        return Scalar(TValue::FromDouble(value));
    }
    bool string(json::string_t& value) {
        return Scalar(TValue::FromString(tarvo::cp::Utf8ToGbk(value)));
    }
    bool binary(json::binary_t&) { throw EJSONError("JSON text holds binary data"); }

    bool start_object(std::size_t) {
        if (FStack.empty()) {
            if (FRoot)
                throw EJSONError("JSON text is not an object");
            FRoot = std::make_unique<TJSONobject>();
            FStack.push_back(FRoot.get());
            return true;
        }
        Nest(std::make_unique<TJSONobject>(FStack.back()));
        return true;
    }
    bool key(json::string_t& name) {
        FKey = tarvo::cp::Utf8ToGbk(name);
        return true;
    }
    bool end_object() {
        FStack.pop_back();
        return true;
    }
    bool start_array(std::size_t) {
        if (FStack.empty())
            throw EJSONError("JSON text is not an object");
        Nest(std::make_unique<TJSONarray>(FStack.back()));
        return true;
    }
    bool end_array() {
        FStack.pop_back();
        return true;
    }

    // The parser's message, without the piece of the text it had read: an
    // answer may carry a session identifier, and messages end up in logs.
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
        std::string message = error.what();
        message.resize(std::min(message.size(), message.find("; last read:")));
        throw EJSONError(tarvo::cp::Utf8ToGbk(message));
    }

private:
    TJSONbase* Place(std::unique_ptr<TJSONbase> node) {
        TJSONarray* container = FStack.back();
        if (TJSONobject* object = container->AsObject())
            return object->Put(FKey, std::move(node));
        return container->Append(std::move(node));
    }

    bool Scalar(TValue value) {
        if (FStack.empty())
            throw EJSONError("JSON text is not an object");
        Place(std::make_unique<TJSONbase>(std::move(value), FStack.back()));
        return true;
    }

    void Nest(std::unique_ptr<TJSONarray> container) {
        if (FStack.size() >= static_cast<std::size_t>(MaxDepth))
            throw EJSONError("JSON text nested deeper than " + std::to_string(MaxDepth) +
                             " levels");
        TJSONarray* placed = container.get();
        Place(std::move(container));
        FStack.push_back(placed);
    }

    std::unique_ptr<TJSONobject> FRoot;
    std::vector<TJSONarray*> FStack;
    std::string FKey;
};

std::unique_ptr<TJSONobject> ParseJSON(const std::string& text) {
    // Zero bytes at the end (block padding of a deciphered text) are dropped.
    // The parser would take any other zero byte as the end of the text and
    // ignore what follows it, so such a text is refused.
    const std::string_view body(text.data(), text.find_last_not_of('\0') + 1);
    if (body.find('\0') != std::string_view::npos)
        throw EJSONError("JSON text holds a zero byte");
    const std::string utf8 = tarvo::cp::GbkToUtf8(body);
    TJSONBuilder builder;
    if (!nlohmann::json::sax_parse(utf8, &builder, nlohmann::json::input_format_t::json, true))
        throw EJSONError("JSON text could not be parsed");
    return builder.Take();
}

} // namespace Json
