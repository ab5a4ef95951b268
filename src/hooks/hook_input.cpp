#include "hooks/hook_input.h"

namespace perchwell {

HookInput HookInput::parse(std::optional<std::string_view> data) {
    HookInput input;
    if (!data || data->empty()) {
        return input;
    }
    input.parser_ = std::make_unique<simdjson::dom::parser>();
    simdjson::dom::element root;
    if (input.parser_->parse(data->data(), data->size()).get(root) != simdjson::SUCCESS) {
        return input;
    }
    input.valid_ = root.get_object().get(input.root_) == simdjson::SUCCESS;
    return input;
}

std::optional<std::string> HookInput::stringField(std::string_view key) const {
    if (!valid_) {
        return std::nullopt;
    }
    std::string_view value;
    if (root_.at_key(key).get_string().get(value) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<simdjson::dom::object> HookInput::toolInput() const {
    if (!valid_) {
        return std::nullopt;
    }
    simdjson::dom::object object;
    if (root_.at_key("tool_input").get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    return object;
}

} // namespace perchwell
