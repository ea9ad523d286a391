// jasmer: JSON documents whose texts are GBK byte strings.
//
// A document is a tree of nodes. `TJSONobject` has named members in the order
// they were added or parsed, `TJSONarray` has items, every other node holds a
// scalar. The caller owns each object it constructs and each object that
// `ParseJSON` returns; member and item nodes belong to their object.
//
// Texts going in and coming out are GBK. `ToText` writes plain ASCII JSON
// (non-ASCII characters as \u escapes); `ParseJSON` reads a GBK text in which
// strings may hold raw GBK bytes or \u escapes alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

#define JASMER_API __attribute__((visibility("default")))

namespace Json {

// A text that is not a JSON object, or nesting deeper than `MaxDepth`.
class JASMER_API EJSONError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value that cannot be read as the type asked for.
class JASMER_API EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Objects and arrays nested deeper than this are refused by `ParseJSON`.
inline constexpr int MaxDepth = 256;

enum class TValueKind { Null, Bool, Integer, Double, String, Object, Array };

// The value of a node. For an object or an array it is that node's JSON text.
class JASMER_API TValue {
public:
    TValue() = default; // null
    static TValue FromBool(bool value);
    static TValue FromInt64(std::int64_t value);
    static TValue FromUInt64(std::uint64_t value);
    static TValue FromDouble(double value);
    static TValue FromString(std::string gbk);
    static TValue FromJSONText(TValueKind kind, std::string text); // Object or Array

    TValueKind Kind() const { return FKind; }
    bool IsNull() const { return FKind == TValueKind::Null; }
    bool IsBool() const { return FKind == TValueKind::Bool; }
    bool IsNumber() const { return FKind == TValueKind::Integer || FKind == TValueKind::Double; }
    bool IsString() const { return FKind == TValueKind::String; }

    // GBK text: strings as they are, numbers in decimal, "true"/"false",
    // "" for null, the JSON text for objects and arrays.
    std::string AsString() const;

    // An integral JSON number, or a text holding a decimal integer (optional
    // sign, digits, blanks around). Anything else, or a value out of the
    // type's range, raises EConvertError.
    std::int64_t AsInt64() const;
    int AsInt() const;
    std::int16_t AsInt16() const;

    // A JSON number, or a text holding a decimal number.
    double AsDouble() const;
    // A JSON boolean.
    bool AsBool() const;

private:
    TValueKind FKind = TValueKind::Null;
    std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double, std::string> FData;
};

class TJSONarray;
class TJSONobject;

// A node of a document: holds its value.
class JASMER_API TJSONbase {
public:
    explicit TJSONbase(TJSONbase* parent = nullptr);
    TJSONbase(TValue value, TJSONbase* parent);
    virtual ~TJSONbase();
    TJSONbase(const TJSONbase&) = delete;
    TJSONbase& operator=(const TJSONbase&) = delete;

    TJSONbase* Parent() const { return FParent; }

    virtual TValue Value() const;
    // This node as JSON text, plain ASCII.
    virtual std::string ToText() const;
    // The member of that exact name; nullptr when missing or not an object.
    virtual TJSONbase* Member(const std::string& name) const;
    // Number of items (of members for an object); 0 for a scalar.
    virtual std::size_t Count() const;
    // Item i (member i for an object); nullptr when out of range.
    virtual TJSONbase* Item(std::size_t index) const;

    // This node as an array or object, or nullptr.
    virtual TJSONarray* AsArray() { return nullptr; }
    virtual TJSONobject* AsObject() { return nullptr; }

private:
    TJSONbase* FParent;
    TValue FValue;
};

// An ordered list of nodes.
class JASMER_API TJSONarray : public TJSONbase {
public:
    explicit TJSONarray(TJSONbase* parent = nullptr);
    ~TJSONarray() override;

    TValue Value() const override;
    std::string ToText() const override;
    std::size_t Count() const override;
    TJSONbase* Item(std::size_t index) const override;
    TJSONarray* AsArray() override { return this; }

protected:
    // Takes ownership of `node` and appends it.
    TJSONbase* Append(std::unique_ptr<TJSONbase> node);
    std::unique_ptr<TJSONbase> Replace(std::size_t index, std::unique_ptr<TJSONbase> node);

private:
    friend class TJSONBuilder;
    std::vector<std::unique_ptr<TJSONbase>> FItems;
};

// Named members in order. A name occurs at most once: adding a name that is
// already there replaces that member's value in its place.
class JASMER_API TJSONobject : public TJSONarray {
public:
    explicit TJSONobject(TJSONbase* parent = nullptr);
    ~TJSONobject() override;

    // A string member.
    void Add(const std::string& name, const std::string& value);
    // A number member.
    void AddInt64(const std::string& name, std::int64_t value);
    void AddDouble(const std::string& name, double value);
    void AddBool(const std::string& name, bool value);
    void AddNull(const std::string& name);

    TValue Value() const override;
    std::string ToText() const override;
    TJSONbase* Member(const std::string& name) const override;
    TJSONarray* AsArray() override { return nullptr; }
    TJSONobject* AsObject() override { return this; }

    // Name of member i; "" when out of range.
    std::string Name(std::size_t index) const;

private:
    friend class TJSONBuilder;
    TJSONbase* Put(const std::string& name, std::unique_ptr<TJSONbase> node);

    std::vector<std::string> FNames;
    std::unordered_map<std::string, std::size_t> FIndex;
};

// The root object of `text` (GBK). Raises EJSONError when the text is not a
// JSON object; never returns null.
JASMER_API std::unique_ptr<TJSONobject> ParseJSON(const std::string& text);

} // namespace Json
