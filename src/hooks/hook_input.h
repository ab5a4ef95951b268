#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

class InSituJson;

// One hook event, parsed once (in place, without a document tree) so every field
// lookup and the decision share the work.
class HookInput {
public:
    // Strings inside "tool_input" deeper than this are not searched; its own values
    // are at depth 1.
    static constexpr int maxHaystackDepth = 31;

    // Absent data, invalid JSON (including invalid UTF-8 or excessive nesting) and
    // a top level that is not an object all give an invalid input.
    static HookInput parse(std::optional<std::string_view> data);
    // The same, keeping `data` as working memory for the haystack.
    static HookInput parseOwned(std::string data);

    HookInput();
    HookInput(HookInput&&) noexcept;
    HookInput& operator=(HookInput&&) noexcept;
    ~HookInput();

    bool isObject() const { return valid_; }

    // The string value of a top-level key (its first occurrence); nothing when the
    // key is missing or its value is not a string.
    std::optional<std::string> stringField(std::string_view key) const;

    // When "tool_input" is an object: every string value inside it, depth first in
    // document order, down to maxHaystackDepth; object keys are not included.
    std::optional<std::span<const std::string_view>> toolInput() const;

    // What the rules search: the "tool_name" string and every toolInput() string,
    // joined with single spaces and lower-cased. Built on first use, in the memory
    // that held the raw input, so a megabyte input needs no further megabyte.
    std::string_view haystack() const;

    // Appends `toolName` and `strings` joined with single spaces, lower-cased or not.
    static void joinHaystack(std::string& out, std::string_view toolName,
                             std::span<const std::string_view> strings, bool lowercase);

    struct Member {
        std::string_view key;
        std::optional<std::string_view> text; // only for string values
    };

private:
    class Reader;

    std::unique_ptr<InSituJson> json_; // owns the bytes every view points into
    std::vector<Member> members_;
    std::optional<std::vector<std::string_view>> toolInputStrings_;
    bool valid_ = false;
    // The raw input, until the haystack takes over its memory.
    mutable std::string scratch_;
    mutable bool haystackBuilt_ = false;
};

} // namespace perchwell
