#include "Json.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// Reads every node the way callers do; conversions may refuse, nothing else.
void Walk(const Json::TJSONbase& node) {
    const Json::TValue value = node.Value();
    (void)value.AsString();
    try {
        (void)value.AsInt16();
    } catch (const Json::EConvertError&) {
    }
    for (std::size_t i = 0; i < node.Count(); ++i)
        Walk(*node.Item(i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const auto doc = Json::ParseJSON(text);
        Walk(*doc);
        const auto again = Json::ParseJSON(doc->ToText());
        if (again->ToText() != doc->ToText())
            __builtin_trap();
    } catch (const Json::EJSONError&) {
    }
    return 0;
}
