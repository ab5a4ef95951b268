#pragma once

#include <memory>
#include <optional>
#include <simdjson.h>
#include <string>
#include <string_view>

namespace perchwell {

// One hook event, parsed once so every field lookup and the decision share the work.
class HookInput {
public:
    // Absent data, invalid JSON (including invalid UTF-8 or excessive nesting) and
    // a top level that is not an object all give an invalid input.
    static HookInput parse(std::optional<std::string_view> data);

    bool isObject() const { return valid_; }

    // The string value of a top-level key; nothing when the key is missing or not a string.
    std::optional<std::string> stringField(std::string_view key) const;

    // "tool_input" when it is an object, else nothing.
    std::optional<simdjson::dom::object> toolInput() const;

private:
    std::unique_ptr<simdjson::dom::parser> parser_;
    simdjson::dom::object root_;
    bool valid_ = false;
};

} // namespace perchwell
