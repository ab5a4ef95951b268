#pragma once

#include "support/temp_home.h"
#include "workflow/workflow_store.h"

#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace perchwell::testing {

// A workflow store of its own in a temporary home, and a way to let queued main-thread
// work run until a condition holds.
struct ViewModelFixture {
    TempHome home;
    std::unique_ptr<WorkflowStore> store = [] {
        auto opened = WorkflowStore::open();
        EXPECT_TRUE(opened.ok());
        return std::move(*opened);
    }();

    static bool settle(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 20000); }

    static UserEntry prompt(std::string uuid, double at, std::string content,
                            std::optional<std::string> cwd = "/w/app", std::string session = "s1") {
        UserEntry e;
        e.uuid = std::move(uuid);
        e.sessionId = std::move(session);
        e.timestamp = at;
        e.content = std::move(content);
        e.cwd = std::move(cwd);
        return e;
    }
    void ingest(const std::string& session, std::vector<JSONLEntry> entries) {
        ASSERT_TRUE(store->ingest(session, "-w-app", "/x/" + session + ".jsonl", entries, 1).ok());
    }
};

} // namespace perchwell::testing
