// The document nodes and their JSON text.
#include "CodePage.h"
#include "Json.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace Json {
namespace {

// A GBK text as a JSON string literal, non-ASCII characters as \u escapes.
std::string Quote(const std::string& gbk) {
    return nlohmann::json(tarvo::cp::GbkToUtf8(gbk))
        .dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

std::string ScalarText(const TValue& value) {
    switch (value.Kind()) {
    case TValueKind::Null:
        return "null";
    case TValueKind::String:
        return Quote(value.AsString());
    default:
        return value.AsString();
    }
}

} // namespace

TJSONbase::TJSONbase(TJSONbase* parent) : FParent(parent) {}

TJSONbase::TJSONbase(TValue value, TJSONbase* parent) : FParent(parent), FValue(std::move(value)) {}

TJSONbase::~TJSONbase() = default;

TValue TJSONbase::Value() const {
    return FValue;
}

std::string TJSONbase::ToText() const {
    return ScalarText(FValue);
}

TJSONbase* TJSONbase::Member(const std::string&) const {
    return nullptr;
}

std::size_t TJSONbase::Count() const {
    return 0;
}

TJSONbase* TJSONbase::Item(std::size_t) const {
    return nullptr;
}

TJSONarray::TJSONarray(TJSONbase* parent) : TJSONbase(parent) {}

TJSONarray::~TJSONarray() = default;

TValue TJSONarray::Value() const {
    return TValue::FromJSONText(TValueKind::Array, ToText());
}

std::string TJSONarray::ToText() const {
    std::string out = "[";
    for (std::size_t i = 0; i < FItems.size(); ++i) {
        if (i > 0)
            out += ',';
        out += FItems[i]->ToText();
    }
    return out + "]";
}

std::size_t TJSONarray::Count() const {
    return FItems.size();
}

TJSONbase* TJSONarray::Item(std::size_t index) const {
    return index < FItems.size() ? FItems[index].get() : nullptr;
}

TJSONbase* TJSONarray::Append(std::unique_ptr<TJSONbase> node) {
    FItems.push_back(std::move(node));
    return FItems.back().get();
}

std::unique_ptr<TJSONbase> TJSONarray::Replace(std::size_t index, std::unique_ptr<TJSONbase> node) {
    FItems[index].swap(node);
    return node;
}

TJSONobject::TJSONobject(TJSONbase* parent) : TJSONarray(parent) {}

TJSONobject::~TJSONobject() = default;

TJSONbase* TJSONobject::Put(const std::string& name, std::unique_ptr<TJSONbase> node) {
    if (const auto found = FIndex.find(name); found != FIndex.end()) {
        TJSONbase* placed = node.get();
        Replace(found->second, std::move(node));
        return placed;
    }
    FIndex.emplace(name, FNames.size());
    FNames.push_back(name);
    return Append(std::move(node));
}

void TJSONobject::Add(const std::string& name, const std::string& value) {
    Put(name, std::make_unique<TJSONbase>(TValue::FromString(value), this));
}

void TJSONobject::AddInt64(const std::string& name, std::int64_t value) {
    Put(name, std::make_unique<TJSONbase>(TValue::FromInt64(value), this));
}

void TJSONobject::AddDouble(const std::string& name, double value) {
    // JSON has no infinities or NaN: those become null.
    Put(name, std::make_unique<TJSONbase>(
                  std::isfinite(value) ? TValue::FromDouble(value) : TValue(), this));
}

void TJSONobject::AddBool(const std::string& name, bool value) {
    Put(name, std::make_unique<TJSONbase>(TValue::FromBool(value), this));
}

void TJSONobject::AddNull(const std::string& name) {
    Put(name, std::make_unique<TJSONbase>(TValue(), this));
}

TValue TJSONobject::Value() const {
    return TValue::FromJSONText(TValueKind::Object, ToText());
}

std::string TJSONobject::ToText() const {
    std::string out = "{";
    for (std::size_t i = 0; i < FNames.size(); ++i) {
        if (i > 0)
            out += ',';
        out += Quote(FNames[i]);
        out += ':';
        out += Item(i)->ToText();
    }
    return out + "}";
}

TJSONbase* TJSONobject::Member(const std::string& name) const {
    const auto found = FIndex.find(name);
    return found == FIndex.end() ? nullptr : Item(found->second);
}

std::string TJSONobject::Name(std::size_t index) const {
    return index < FNames.size() ? FNames[index] : std::string();
}

} // namespace Json
