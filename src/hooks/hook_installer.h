#pragma once

#include "common/result.h"

#include <rapidjson/document.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// Adds, removes and finds our hook entries in Claude Code's settings.json
// ($CLAUDE_CONFIG_DIR, else ~/.claude). Only our own matcher groups are touched; a
// file we cannot read is never written. Header-only JSON, so the `hooks` command of
// `perchwell` maps nothing but libc.
class HookInstaller {
public:
    struct EventRow {
        const char* event;
        const char* matcher; // null: no matcher
        const char* description;
    };
    static const std::array<EventRow, 4>& eventTable();

    // What the file holds for us.
    struct Status {
        std::string settingsPath;
        bool fileExists = false;
        std::vector<std::string> events;   // the hooked events with an entry of ours
        std::vector<std::string> commands; // the distinct commands of those entries
        bool installed() const { return !events.empty(); }
    };

    static std::string settingsPath();
    static std::string backupPath();

    // `"<dir>/pv-hook-client" --exe "<dir>/perchwell"`, each path quoted for /bin/sh.
    static std::string hookCommand(const std::string& executableDir);
    // A double-quoted /bin/sh word that expands to exactly `text`.
    static std::string shellQuote(const std::string& text);

    // Replaces our entries (of any copy) with fresh ones naming `executableDir`.
    static Result<Status> install(const std::string& executableDir);
    // Removes our entries; never creates the file.
    static Result<Status> uninstall();
    static Result<Status> status();

    static bool findAnyPerchwellEntry(const rapidjson::Value& settings);
    static bool isPerchwellEntry(const rapidjson::Value& entry);

    // The settings object: nothing when the file is missing; an error naming the file
    // (and the line) when it exists but is not a readable JSON object.
    static Result<std::optional<rapidjson::Document>> loadSettings(const std::string& path);
    // Pretty-printed with keys sorted.
    static std::string serialize(const rapidjson::Value& value);
};

} // namespace perchwell
