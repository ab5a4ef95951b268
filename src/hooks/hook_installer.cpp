#include "hooks/hook_installer.h"

#include "common/file_util.h"
#include "common/sorted_json.h"
#include "platform/paths.h"

#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace perchwell {
namespace {

using rapidjson::Value;
using Allocator = rapidjson::Document::AllocatorType;

bool containsPerchwell(const Value& command) {
    if (!command.IsString()) {
        return false;
    }
    std::string lower(command.GetString(), command.GetStringLength());
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("perchwell") != std::string::npos;
}

bool isArrayOfObjects(const Value* value) {
    return value != nullptr && value->IsArray() &&
           std::all_of(value->Begin(), value->End(), [](const Value& v) { return v.IsObject(); });
}

Value* member(Value& object, const char* name) {
    return object.IsObject() && object.HasMember(name) ? &object[name] : nullptr;
}

const Value* member(const Value& object, const char* name) {
    return member(const_cast<Value&>(object), name);
}

void setMember(Value& object, const char* name, Value value, Allocator& allocator) {
    if (Value* existing = member(object, name)) {
        *existing = std::move(value);
    } else {
        object.AddMember(Value(name, allocator), std::move(value), allocator);
    }
}

// Removes our entries from an array of matcher groups; the others keep their order.
void removePerchwellEntries(Value& entries) {
    for (auto it = entries.Begin(); it != entries.End();) {
        it = HookInstaller::isPerchwellEntry(*it) ? entries.Erase(it) : it + 1;
    }
}

Value freshEntry(const HookInstaller::EventRow& row, const std::string& command, Allocator& allocator) {
    Value hook(rapidjson::kObjectType);
    hook.AddMember("type", "command", allocator);
    hook.AddMember("command", Value(command.c_str(), allocator), allocator);
    hook.AddMember("description", Value(row.description, allocator), allocator);
    Value hooks(rapidjson::kArrayType);
    hooks.PushBack(std::move(hook), allocator);
    Value entry(rapidjson::kObjectType);
    if (row.matcher != nullptr) {
        entry.AddMember("matcher", Value(row.matcher, allocator), allocator);
    }
    entry.AddMember("hooks", std::move(hooks), allocator);
    return entry;
}

void collectCommands(const Value& entry, std::vector<std::string>& commands) {
    auto add = [&commands](const Value* command) {
        if (command != nullptr && containsPerchwell(*command)) {
            std::string text(command->GetString(), command->GetStringLength());
            if (std::find(commands.begin(), commands.end(), text) == commands.end()) {
                commands.push_back(std::move(text));
            }
        }
    };
    add(member(entry, "command"));
    if (const Value* hooks = member(entry, "hooks"); hooks != nullptr && hooks->IsArray()) {
        for (const Value& hook : hooks->GetArray()) {
            add(member(hook, "command"));
        }
    }
}

HookInstaller::Status statusOf(const Value& settings, const std::string& path, bool exists) {
    HookInstaller::Status status;
    status.settingsPath = path;
    status.fileExists = exists;
    const Value* hooks = member(settings, "hooks");
    if (hooks == nullptr || !hooks->IsObject()) {
        return status;
    }
    for (const auto& row : HookInstaller::eventTable()) {
        const Value* entries = member(*hooks, row.event);
        if (!isArrayOfObjects(entries)) {
            continue;
        }
        bool found = false;
        for (const Value& entry : entries->GetArray()) {
            if (HookInstaller::isPerchwellEntry(entry)) {
                found = true;
                collectCommands(entry, status.commands);
            }
        }
        if (found) {
            status.events.emplace_back(row.event);
        }
    }
    return status;
}

// Where the bytes really live: a settings.json kept as a symlink (dotfile managers)
// stays one, and its target is what we replace.
std::string resolvedPath(const std::string& path) {
    char buffer[PATH_MAX];
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
        ::realpath(path.c_str(), buffer) != nullptr) {
        return buffer;
    }
    return path;
}

// Keeps the previous file as settings.json.bak, then replaces it, both with the
// previous file's permission bits.
Result<void> writeSettings(const Value& settings) {
    const std::string path = resolvedPath(HookInstaller::settingsPath());
    if (auto dir = files::ensureDirectory(files::parentDirectory(path)); !dir) {
        return dir.error();
    }
    mode_t mode = 0600;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        const auto previous = files::readFile(path);
        if (!previous) {
            return Error{"cannot read " + path + " to back it up"};
        }
        if (auto backup = files::writeFileAtomically(path + ".bak", *previous, mode); !backup) {
            return backup.error();
        }
    }
    return files::writeFileAtomically(path, HookInstaller::serialize(settings), mode);
}

} // namespace

const std::array<HookInstaller::EventRow, 4>& HookInstaller::eventTable() {
    static const std::array<EventRow, 4> table = {{
        {"PreToolUse", "Bash|Edit|Write|MultiEdit",
         "Perchwell: auto-approve through the Perchwell policy (pv-hook-client asks the running app, "
         "perchwell hook decides when it does not answer)"},
        {"UserPromptSubmit", nullptr, "Perchwell: surface user prompts to PromptEnhancer"},
        {"Stop", nullptr, "Perchwell: notify Dashboard a cc session ended"},
        {"Notification", nullptr, "Perchwell: relay cc notifications to the mascot"},
    }};
    return table;
}

std::string HookInstaller::settingsPath() {
    return Paths::claudeDirectory() + "/settings.json";
}

std::string HookInstaller::backupPath() {
    return resolvedPath(settingsPath()) + ".bak";
}

std::string HookInstaller::shellQuote(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\' || c == '$' || c == '`') {
            quoted.push_back('\\');
        }
        quoted.push_back(c);
    }
    quoted.push_back('"');
    return quoted;
}

std::string HookInstaller::hookCommand(const std::string& executableDir) {
    return shellQuote(executableDir + "/pv-hook-client") + " --exe " +
           shellQuote(executableDir + "/perchwell");
}

bool HookInstaller::isPerchwellEntry(const Value& entry) {
    if (const Value* command = member(entry, "command"); command != nullptr && containsPerchwell(*command)) {
        return true;
    }
    const Value* hooks = member(entry, "hooks");
    return hooks != nullptr && hooks->IsArray() &&
           std::any_of(hooks->Begin(), hooks->End(), [](const Value& hook) {
               const Value* command = member(hook, "command");
               return command != nullptr && containsPerchwell(*command);
           });
}

bool HookInstaller::findAnyPerchwellEntry(const Value& settings) {
    return statusOf(settings, {}, true).installed();
}

Result<std::optional<rapidjson::Document>> HookInstaller::loadSettings(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return std::optional<rapidjson::Document>();
        }
        return Error{"cannot read " + path + ": " + files::errnoText(errno)};
    }
    const auto text = files::readFile(path);
    if (!text) {
        return Error{"cannot read " + path};
    }
    rapidjson::Document document;
    document.Parse<rapidjson::kParseFullPrecisionFlag>(text->data(), text->size());
    if (document.HasParseError()) {
        const size_t offset = std::min(document.GetErrorOffset(), text->size());
        const auto line = 1 + std::count(text->begin(), text->begin() + static_cast<long>(offset), '\n');
        std::string reason = rapidjson::GetParseError_En(document.GetParseError());
        if (!reason.empty() && reason.back() == '.') {
            reason.pop_back();
        }
        return Error{path + ": line " + std::to_string(line) + ": " + reason +
                     " — fix the file (or move it away) and try again; nothing was written"};
    }
    if (!document.IsObject()) {
        return Error{path + ": the top level is not a JSON object — nothing was written"};
    }
    return std::optional<rapidjson::Document>(std::move(document));
}

std::string HookInstaller::serialize(const Value& value) {
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    writer.SetIndent(' ', 2);
    writeSorted(value, writer);
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

Result<HookInstaller::Status> HookInstaller::install(const std::string& executableDir) {
    const std::string path = settingsPath();
    auto loaded = loadSettings(path);
    if (!loaded) {
        return loaded.error();
    }
    const bool existed = loaded->has_value();
    rapidjson::Document settings =
        existed ? std::move(**loaded) : rapidjson::Document(rapidjson::kObjectType);
    auto& allocator = settings.GetAllocator();

    Value* hooks = member(settings, "hooks");
    if (hooks == nullptr || !hooks->IsObject()) {
        setMember(settings, "hooks", Value(rapidjson::kObjectType), allocator);
        hooks = member(settings, "hooks");
    }
    const std::string command = hookCommand(executableDir);
    for (const auto& row : eventTable()) {
        Value* entries = member(*hooks, row.event);
        if (!isArrayOfObjects(entries)) {
            setMember(*hooks, row.event, Value(rapidjson::kArrayType), allocator);
            entries = member(*hooks, row.event);
        }
        removePerchwellEntries(*entries);
        entries->PushBack(freshEntry(row, command, allocator), allocator);
    }
    if (auto written = writeSettings(settings); !written) {
        return written.error();
    }
    return statusOf(settings, path, true);
}

Result<HookInstaller::Status> HookInstaller::uninstall() {
    const std::string path = settingsPath();
    auto loaded = loadSettings(path);
    if (!loaded) {
        return loaded.error();
    }
    if (!loaded->has_value() || (*loaded)->ObjectEmpty()) {
        return statusOf(Value(rapidjson::kObjectType), path, loaded->has_value());
    }
    rapidjson::Document& settings = **loaded;
    Value* hooks = member(settings, "hooks");
    if (hooks == nullptr || !hooks->IsObject()) {
        return statusOf(settings, path, true);
    }
    for (const auto& row : eventTable()) {
        Value* entries = member(*hooks, row.event);
        if (!isArrayOfObjects(entries)) {
            continue;
        }
        removePerchwellEntries(*entries);
        if (entries->Empty()) {
            hooks->RemoveMember(row.event);
        }
    }
    if (hooks->ObjectEmpty()) {
        settings.RemoveMember("hooks");
    }
    if (auto written = writeSettings(settings); !written) {
        return written.error();
    }
    return statusOf(settings, path, true);
}

Result<HookInstaller::Status> HookInstaller::status() {
    const std::string path = settingsPath();
    auto loaded = loadSettings(path);
    if (!loaded) {
        return loaded.error();
    }
    if (!loaded->has_value()) {
        return statusOf(Value(rapidjson::kObjectType), path, false);
    }
    return statusOf(**loaded, path, true);
}

} // namespace perchwell
