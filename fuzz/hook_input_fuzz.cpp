// The hook's in-place reader against simdjson, a strict reader with a document tree:
// both accept the same texts (apart from numbers too large for simdjson, which the
// hook never reads), and find the same fields and the same haystack strings.
#include "hooks/hook_command.h"

#include <cstdlib>
#include <simdjson.h>

using namespace perchwell;

namespace {

void appendStrings(simdjson::dom::element value, int depth, std::vector<std::string_view>& out) {
    if (depth > HookInput::maxHaystackDepth) {
        return;
    }
    if (value.is_string()) {
        out.push_back(value.get_string().value());
    } else if (value.is_array()) {
        for (simdjson::dom::element child : value.get_array().value()) {
            appendStrings(child, depth + 1, out);
        }
    } else if (value.is_object()) {
        for (simdjson::dom::key_value_pair field : value.get_object().value()) {
            appendStrings(field.value, depth + 1, out);
        }
    }
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const HookInput input = HookInput::parse(text);

    simdjson::dom::parser parser;
    simdjson::dom::element root;
    const simdjson::error_code error = parser.parse(text.data(), text.size()).get(root);
    if (error == simdjson::NUMBER_ERROR || error == simdjson::NUMBER_OUT_OF_RANGE) {
        return 0; // a number simdjson will not hold; the hook does not read numbers
    }
    simdjson::dom::object object;
    const bool isObject = !error && root.get_object().get(object) == simdjson::SUCCESS;
    check(input.isObject() == isObject);
    if (!isObject) {
        return 0;
    }
    for (const char* key : {"tool_name", "session_id", "hook_event_name", "cwd"}) {
        std::string_view value;
        const bool found = object.at_key(key).get_string().get(value) == simdjson::SUCCESS;
        const auto ours = input.stringField(key);
        check(found == ours.has_value() && (!found || *ours == value));
    }
    simdjson::dom::object toolInput;
    const bool hasToolInput = object.at_key("tool_input").get_object().get(toolInput) == simdjson::SUCCESS;
    check(hasToolInput == input.toolInput().has_value());
    if (hasToolInput) {
        std::vector<std::string_view> strings;
        for (simdjson::dom::key_value_pair field : toolInput) {
            appendStrings(field.value, 1, strings);
        }
        const auto ours = *input.toolInput();
        check(std::equal(strings.begin(), strings.end(), ours.begin(), ours.end()));
    }
    return 0;
}
