#pragma once

#include <rapidjson/document.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace perchwell {

// Writes `value` with every object's keys in byte order, so equal documents give equal
// texts whatever order their members were read or added in.
template <typename JsonWriter> void writeSorted(const rapidjson::Value& value, JsonWriter& writer) {
    if (value.IsObject()) {
        std::vector<const rapidjson::Value::Member*> members;
        for (const auto& m : value.GetObject()) {
            members.push_back(&m);
        }
        const auto name = [](const rapidjson::Value::Member* m) {
            return std::string_view(m->name.GetString(), m->name.GetStringLength());
        };
        std::stable_sort(members.begin(), members.end(),
                         [&](const auto* a, const auto* b) { return name(a) < name(b); });
        writer.StartObject();
        for (const auto* m : members) {
            writer.Key(m->name.GetString(), m->name.GetStringLength());
            writeSorted(m->value, writer);
        }
        writer.EndObject();
    } else if (value.IsArray()) {
        writer.StartArray();
        for (const auto& item : value.GetArray()) {
            writeSorted(item, writer);
        }
        writer.EndArray();
    } else {
        value.Accept(writer);
    }
}

} // namespace perchwell
