// A message that a document posted to one of the shell's script message handlers,
// as the web process reports it: which handler, the typed body, and who sent it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <concepts>
#include <string>
#include <variant>

namespace brindlemar {

// A posted value as the page bridge types it: a script string, a script number,
// a script boolean, a plain script object (string keys, typed values), or anything
// else (null, arrays, functions, ...), which carries no content.
class BodyValue {
public:
    using Object = std::map<std::string, BodyValue>;
    struct Other {
        bool operator==(const Other&) const = default;
    };

    BodyValue() = default;  // Other
    BodyValue(std::string s) : value_(std::move(s)) {}
    BodyValue(const char* s) : value_(std::string(s)) {}
    BodyValue(double d) : value_(d) {}
    // Only a real bool: a pointer or a number never becomes a boolean by conversion.
    template <std::same_as<bool> B>
    BodyValue(B b) : value_(b) {}
    BodyValue(Object o) : value_(std::make_shared<Object>(std::move(o))) {}

    const std::string* string() const { return std::get_if<std::string>(&value_); }
    const double* number() const { return std::get_if<double>(&value_); }
    const bool* boolean() const { return std::get_if<bool>(&value_); }
    const Object* object() const {
        auto p = std::get_if<std::shared_ptr<Object>>(&value_);
        return p ? p->get() : nullptr;
    }

private:
    std::variant<Other, std::string, double, bool, std::shared_ptr<Object>> value_;
};

struct PageMessage {
    std::string name;         // handler the document posted to
    BodyValue body;
    bool isMainFrame = false;
    std::string originHost;   // empty for a document without a host
    std::int64_t originPort = 0;  // 0 when the origin uses its scheme's default port
};

}  // namespace brindlemar
