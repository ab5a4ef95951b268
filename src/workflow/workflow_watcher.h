#pragma once

#include "common/app_logger.h"
#include "common/serial_executor.h"
#include "common/unique_fd.h"
#include "workflow/jsonl_entry.h"
#include "workflow/project_scanner.h"
#include "workflow/workflow_reader.h"
#include "workflow/workflow_store.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace perchwell {

// Keeps the store up to date with Claude Code's transcripts: back-fills every session
// file at start, then follows the root and every project directory with inotify and
// ingests the new complete lines of each changed file. Files are read in chunks; the
// chunks of consecutive files are stored together, up to 16 MiB of input per
// transaction, each chunk's offset ending after a line feed. New records of live
// sessions are reported through the two callbacks after the commit.
//
// While the root does not exist (before Claude Code's first run, or after it was
// removed) the nearest existing directory above it is watched instead, and the root
// is taken up, and back-filled, as soon as it appears.
//
// Threads: all state lives on the watcher's own SerialExecutor; start() and stop() may
// be called from any thread and return futures that complete once the work is done
// on it. Events are read by a thread of the watcher and handed to the executor,
// coalesced per file, so two syncs of one file never overlap and at most one waits.
class WorkflowWatcher {
public:
    // `store` and `reader` must outlive the watcher.
    WorkflowWatcher(WorkflowStore& store, WorkflowReader& reader, std::string root = defaultRoot());
    ~WorkflowWatcher();
    WorkflowWatcher(const WorkflowWatcher&) = delete;
    WorkflowWatcher& operator=(const WorkflowWatcher&) = delete;

    // The transcript root: <Claude directory>/projects.
    static std::string defaultRoot();

    // Called on the watcher's executor, once per new record of a live session, in file
    // order, after its batch is committed. Set them before start(); they must not block.
    std::function<void(const UserEntry&)> onUserPromptIngested;
    std::function<void(const AssistantEntry&)> onAssistantIngested;

    // Stops whatever runs, scans the root, arms the watches and back-fills every session
    // file from its stored offset. The future is ready when the back-fill has finished
    // and the watcher is watching. A later start() or stop() cuts a running back-fill
    // short between chunks.
    std::future<void> start();
    // Removes every watch and forgets the files. The future is ready once done.
    std::future<void> stop();

    struct WatchState {
        int rootWatch = -1;          // inotify watch descriptor of the root, -1 when none
        size_t directoryWatches = 0; // project directories watched
        size_t files = 0;            // session files known
        std::string ancestor;        // watched for the root to appear; empty while the root is watched
        bool operator==(const WatchState&) const = default;
    };
    WatchState watchState();
    // Whether records of the session are reported; nothing before it was first read.
    std::optional<bool> sessionIsLive(const std::string& sessionId);

private:
    struct FileWatch {
        std::string projectId;
    };
    struct DirectoryWatch {
        std::string path;
        std::string projectId;
    };
    // The stored offset of a file and its first chunk after it, read ahead.
    struct Prefetch {
        int64_t startOffset = 0;
        std::vector<JSONLEntry> entries;
        int64_t newOffset = 0;
        bool more = false;
    };
    struct RawEvent {
        int wd;
        uint32_t mask;
        std::string name;
    };

    void doStart(uint64_t generation);
    void doStop();
    bool openEventSource();
    void eventLoop(int inotifyFd, int wakeFd, uint64_t instance);
    void drainEvents(uint64_t instance);

    void backfill(const std::vector<DiscoveredProject>& projects, uint64_t generation);
    // Watches the root or, when it is missing, the nearest existing directory above it.
    // True when the root is watched. `warn`: log why the root itself could not be.
    bool armRootWatcher(bool warn);
    void watchAncestor(int wd, const std::string& path, const std::string& next);
    void dropAncestorWatch();
    // The root went away (deleted or moved): its project watches and files go too.
    void loseRoot();
    void armDirectoryWatcher(const DiscoveredProject& project);
    void registerFile(const std::string& file, const std::string& projectId);
    void handleRootChange(uint64_t generation);
    struct SyncJob {
        std::string file;
        std::string projectId;
    };
    // Read but not yet committed: one transaction's worth.
    struct PendingIngest {
        std::vector<WorkflowStore::IngestBatch> batches;
        std::vector<int64_t> startOffsets; // per batch: the file's offset when its sync began
        std::set<std::string> sessions;
        int64_t bytes = 0;
    };
    std::future<Prefetch> prefetch(const std::string& file);
    // Brings each file up to date, in order; the files' chunks are stored in batched
    // transactions and reported after each commit.
    void syncFiles(const std::vector<SyncJob>& jobs, uint64_t generation);
    bool flush(PendingIngest& pending);
    void report(const std::vector<JSONLEntry>& entries);
    bool current(uint64_t generation) const { return generation_.load() == generation; }

    AppLogger log_{"workflow.watcher"};
    WorkflowStore& store_;
    WorkflowReader& reader_;
    const std::string root_;

    // Executor state.
    UniqueFd inotifyFd_;
    UniqueFd wakeFd_;
    std::thread eventThread_;
    uint64_t instance_ = 0; // which inotify instance queued events belong to
    int rootWatch_ = -1;
    int ancestorWatch_ = -1;
    std::string ancestorPath_;
    std::string ancestorNext_; // the name, in the ancestor, of the next directory towards the root
    std::map<int, DirectoryWatch> directoryWatches_;
    std::map<std::string, FileWatch> fileSources_;
    std::map<std::string, bool> sessionIsLive_;

    // Raised by every start() and stop() at once, from the calling thread.
    std::atomic<uint64_t> generation_{0};

    // Events read but not yet handled; shared with the event thread.
    std::mutex pendingMutex_;
    std::vector<RawEvent> pending_;
    std::set<std::pair<int, std::string>> pendingModifies_;

    SerialExecutor executor_{"pw-watcher"}; // last: drained before the state above goes
};

} // namespace perchwell
