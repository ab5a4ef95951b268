#include "hooks/hook_input.h"

#include "common/utf8.h"
#include "hooks/in_situ_json.h"

namespace perchwell {

// Records the top-level members and the strings of the first "tool_input"; stops at
// once when the top level is not an object.
class HookInput::Reader final : public InSituJsonHandler<Reader> {
public:
    Reader(std::vector<Member>& members, std::optional<std::vector<std::string_view>>& toolInputStrings)
        : members_(members), toolInputStrings_(toolInputStrings) {}

    bool Null() { return value(std::nullopt, false); }
    bool Bool(bool) { return value(std::nullopt, false); }
    bool RawNumber(const char*, SizeType, bool) { return value(std::nullopt, false); }
    bool String(const char* text, SizeType length, bool) {
        const std::string_view view(text, length);
        return InSituJson::decodedStringValid(view) && value(view, false);
    }
    bool Key(const char* text, SizeType length, bool) {
        key_ = std::string_view(text, length);
        return InSituJson::decodedStringValid(key_);
    }
    bool StartObject() { return start(true); }
    bool StartArray() { return start(false); }
    bool EndObject(SizeType) { return end(); }
    bool EndArray(SizeType) { return end(); }

private:
    bool start(bool isObject) {
        if (!value(std::nullopt, isObject)) {
            return false;
        }
        open();
        return true;
    }
    bool end() {
        close();
        if (depth() == 1) {
            capturing_ = false;
        }
        return true;
    }
    bool value(std::optional<std::string_view> text, bool isObject) {
        if (!enter()) {
            return false;
        }
        if (depth() == 0) {
            return isObject;
        }
        if (depth() == 1) {
            members_.push_back({key_, text});
            if (key_ == "tool_input" && !toolInputSeen_) {
                toolInputSeen_ = true;
                if (isObject) {
                    toolInputStrings_.emplace();
                    capturing_ = true;
                }
            }
            return true;
        }
        // tool_input's own values sit at depth 2 of the document and 1 of the haystack.
        if (capturing_ && text && depth() - 1 <= maxHaystackDepth) {
            toolInputStrings_->push_back(*text);
        }
        return true;
    }

    std::vector<Member>& members_;
    std::optional<std::vector<std::string_view>>& toolInputStrings_;
    std::string_view key_;
    bool toolInputSeen_ = false;
    bool capturing_ = false;
};

HookInput::HookInput() = default;
HookInput::HookInput(HookInput&&) noexcept = default;
HookInput& HookInput::operator=(HookInput&&) noexcept = default;
HookInput::~HookInput() = default;

HookInput HookInput::parse(std::optional<std::string_view> data) {
    if (!data || data->empty()) {
        return {};
    }
    return parseOwned(std::string(*data));
}

HookInput HookInput::parseOwned(std::string data) {
    HookInput input;
    if (data.empty()) {
        return input;
    }
    // Each number beyond the double range costs one more pass; past a few, the input
    // is treated as hostile and refused.
    constexpr int maxNumbersNeutralised = 8;
    for (int attempt = 0; attempt <= maxNumbersNeutralised; ++attempt) {
        input.members_.clear();
        input.toolInputStrings_.reset();
        input.json_ = std::make_unique<InSituJson>(data);
        Reader reader(input.members_, input.toolInputStrings_);
        const InSituJson::Outcome outcome = input.json_->parse(reader);
        if (outcome == InSituJson::Outcome::parsed) {
            input.valid_ = true;
            break;
        }
        if (outcome != InSituJson::Outcome::numberTooBig ||
            !InSituJson::neutraliseNumber(data, input.json_->errorOffset())) {
            break;
        }
    }
    if (!input.valid_) {
        input.members_.clear();
        input.toolInputStrings_.reset();
        input.json_.reset();
    }
    input.scratch_ = std::move(data);
    return input;
}

void HookInput::joinHaystack(std::string& out, std::string_view toolName,
                             std::span<const std::string_view> strings, bool lowercase) {
    const auto append = [&](std::string_view text) {
        if (lowercase) {
            utf8::appendLowercased(out, text);
        } else {
            out.append(text);
        }
    };
    append(toolName);
    for (const std::string_view text : strings) {
        out.push_back(' ');
        append(text);
    }
}

std::string_view HookInput::haystack() const {
    if (!haystackBuilt_) {
        // Never longer than the raw input (every string there has its quotes), so the
        // raw input's capacity holds it without growing.
        scratch_.clear();
        const auto toolName = stringField("tool_name");
        const auto strings = toolInput();
        joinHaystack(scratch_, toolName.value_or(""), strings.value_or(std::span<const std::string_view>()),
                     /*lowercase=*/true);
        haystackBuilt_ = true;
    }
    return scratch_;
}

std::optional<std::string> HookInput::stringField(std::string_view key) const {
    for (const Member& member : members_) {
        if (member.key == key) {
            return member.text ? std::optional<std::string>(*member.text) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::span<const std::string_view>> HookInput::toolInput() const {
    if (!toolInputStrings_) {
        return std::nullopt;
    }
    return std::span<const std::string_view>(*toolInputStrings_);
}

} // namespace perchwell
