#include "workflow/workflow_watcher.h"

#include "common/file_util.h"
#include "platform/paths.h"
#include "workflow/workflow_store.h"

#include <cerrno>
#include <filesystem>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace perchwell {
namespace {

// A directory changes: entries come and go, or the directory itself goes.
constexpr uint32_t kRootMask =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A directory above the missing root reports the arrival of the next one down, and
// its own departure.
constexpr uint32_t kAncestorMask = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The root's own end: deleted, moved away, or its watch gone.
constexpr uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;
// A project directory also reports writes to the files in it, so one watch covers its
// session files, those created later included.
constexpr uint32_t kDirectoryMask = IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_ONLYDIR;

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string sessionIdOf(const std::string& file) {
    std::string name = baseName(file);
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

bool isDirectory(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

} // namespace

WorkflowWatcher::WorkflowWatcher(WorkflowStore& store, WorkflowReader& reader, std::string root)
    : store_(store), reader_(reader), root_(std::move(root)) {}

WorkflowWatcher::~WorkflowWatcher() {
    ++generation_;
    executor_.run([this] { doStop(); }).get();
}

std::string WorkflowWatcher::defaultRoot() {
    return Paths::claudeDirectory() + "/projects";
}

std::future<void> WorkflowWatcher::start() {
    const uint64_t generation = ++generation_;
    return executor_.submit([this, generation] { doStart(generation); });
}

std::future<void> WorkflowWatcher::stop() {
    ++generation_;
    return executor_.submit([this] { doStop(); });
}

WorkflowWatcher::WatchState WorkflowWatcher::watchState() {
    return executor_
        .run([this] {
            return WatchState{rootWatch_, directoryWatches_.size(), fileSources_.size(), ancestorPath_};
        })
        .get();
}

std::optional<bool> WorkflowWatcher::sessionIsLive(const std::string& sessionId) {
    return executor_
        .run([&]() -> std::optional<bool> {
            const auto it = sessionIsLive_.find(sessionId);
            return it == sessionIsLive_.end() ? std::nullopt : std::optional<bool>(it->second);
        })
        .get();
}

void WorkflowWatcher::doStart(uint64_t generation) {
    doStop();
    if (!current(generation)) {
        return; // a later start() or stop() supersedes this one
    }
    // Watches first, then the listing: whatever appears meanwhile is either listed or
    // reported, and lines written during the back-fill are caught up right after it.
    if (openEventSource()) {
        armRootWatcher(true);
    }
    for (const auto& project : ProjectScanner::scan(root_)) {
        armDirectoryWatcher(project);
    }
    const auto projects = ProjectScanner::scan(root_);
    for (const auto& project : projects) {
        for (const auto& file : project.sessionFiles) {
            registerFile(file, project.directoryName);
        }
    }
    backfill(projects, generation);
    if (current(generation)) {
        log_.info("watcher started: rootFD=" + std::to_string(rootWatch_) + ", watching " +
                  std::to_string(fileSources_.size()) + " file(s)");
    }
}

void WorkflowWatcher::doStop() {
    if (eventThread_.joinable()) {
        const uint64_t one = 1;
        (void)!::write(wakeFd_.get(), &one, sizeof one);
        eventThread_.join();
    }
    inotifyFd_.reset(); // closing the instance removes all of its watches
    wakeFd_.reset();
    ++instance_;
    rootWatch_ = -1;
    ancestorWatch_ = -1;
    ancestorPath_.clear();
    ancestorNext_.clear();
    directoryWatches_.clear();
    fileSources_.clear();
    std::lock_guard lock(pendingMutex_);
    pending_.clear();
    pendingModifies_.clear();
}

bool WorkflowWatcher::openEventSource() {
    inotifyFd_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    wakeFd_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!inotifyFd_.valid() || !wakeFd_.valid()) {
        log_.warning("inotify_init1 failed: " + files::errnoText(errno));
        inotifyFd_.reset();
        wakeFd_.reset();
        return false;
    }
    eventThread_ = std::thread([this, fd = inotifyFd_.get(), wake = wakeFd_.get(), instance = instance_] {
        eventLoop(fd, wake, instance);
    });
    return true;
}

bool WorkflowWatcher::armRootWatcher(bool warn) {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(root_).lexically_normal();
    // Each round either watches the root, or watches an ancestor and finds that the
    // next directory down does not exist (yet: its arrival is reported from now on).
    for (;;) {
        const int wd = ::inotify_add_watch(inotifyFd_.get(), root_.c_str(), kRootMask);
        if (wd >= 0) {
            rootWatch_ = wd;
            if (ancestorWatch_ >= 0) {
                log_.info("watching " + root_ + ", which has appeared");
            }
            dropAncestorWatch();
            return true;
        }
        const int err = errno;
        if (warn) {
            log_.warning("root open(" + root_ + ") failed: " + files::errnoText(err));
            warn = false;
        }
        if (err != ENOENT && err != ENOTDIR) {
            dropAncestorWatch(); // it exists but cannot be watched: waiting for it is pointless
            return false;
        }
        fs::path dir = root.has_filename() ? root : root.parent_path();
        int ancestorWd = -1;
        int ancestorErr = 0;
        do {
            dir = dir.has_parent_path() ? dir.parent_path() : fs::path(".");
            ancestorWd = ::inotify_add_watch(inotifyFd_.get(), dir.c_str(), kAncestorMask);
            ancestorErr = errno;
        } while (ancestorWd < 0 && (ancestorErr == ENOENT || ancestorErr == ENOTDIR) &&
                 dir != dir.parent_path() && dir != ".");
        if (ancestorWd < 0) {
            log_.warning("no directory above " + root_ + " can be watched: " + files::errnoText(ancestorErr));
            dropAncestorWatch();
            return false;
        }
        const fs::path next = dir / *root.lexically_relative(dir).begin();
        watchAncestor(ancestorWd, dir.string(), next.filename().string());
        if (!isDirectory(next)) {
            return false;
        }
    }
}

void WorkflowWatcher::watchAncestor(int wd, const std::string& path, const std::string& next) {
    if (wd != ancestorWatch_) {
        dropAncestorWatch();
        log_.info("waiting for " + root_ + ": watching " + path);
    }
    ancestorWatch_ = wd;
    ancestorPath_ = path;
    ancestorNext_ = next;
}

void WorkflowWatcher::dropAncestorWatch() {
    if (ancestorWatch_ >= 0) {
        // Fails harmlessly when the kernel has already dropped it with its directory.
        ::inotify_rm_watch(inotifyFd_.get(), ancestorWatch_);
    }
    ancestorWatch_ = -1;
    ancestorPath_.clear();
    ancestorNext_.clear();
}

void WorkflowWatcher::loseRoot() {
    if (rootWatch_ >= 0) {
        ::inotify_rm_watch(inotifyFd_.get(), rootWatch_); // a moved root's watch would follow it
    }
    rootWatch_ = -1;
    for (const auto& [wd, watch] : directoryWatches_) {
        ::inotify_rm_watch(inotifyFd_.get(), wd);
    }
    directoryWatches_.clear();
    // Whatever turns up at the root's path later is synced as found then.
    fileSources_.clear();
}

void WorkflowWatcher::armDirectoryWatcher(const DiscoveredProject& project) {
    if (!inotifyFd_.valid()) {
        return;
    }
    for (const auto& [wd, watch] : directoryWatches_) {
        if (watch.path == project.directory) {
            return;
        }
    }
    const int wd = ::inotify_add_watch(inotifyFd_.get(), project.directory.c_str(), kDirectoryMask);
    if (wd < 0) {
        log_.warning("directory open(" + project.directory + ") failed: " + files::errnoText(errno));
        return;
    }
    directoryWatches_[wd] = DirectoryWatch{project.directory, project.directoryName};
}

void WorkflowWatcher::registerFile(const std::string& file, const std::string& projectId) {
    fileSources_.try_emplace(file, FileWatch{projectId});
}

void WorkflowWatcher::backfill(const std::vector<DiscoveredProject>& projects, uint64_t generation) {
    std::vector<SyncJob> jobs;
    for (const auto& project : projects) {
        if (!current(generation)) {
            return;
        }
        if (auto r = store_.upsertProject(project); !r) {
            log_.warning("upsertProject " + project.directoryName + " failed: " + r.error().message);
            continue;
        }
        for (const auto& file : project.sessionFiles) {
            jobs.push_back(SyncJob{file, project.directoryName});
        }
    }
    syncFiles(jobs, generation);
}

void WorkflowWatcher::handleRootChange(uint64_t generation) {
    std::vector<SyncJob> fresh;
    for (const auto& listed : ProjectScanner::scan(root_)) {
        (void)store_.upsertProject(listed);
        armDirectoryWatcher(listed);
        // Listed again now that the directory is watched, so no file slips between.
        const auto project = ProjectScanner::scanProject(root_, listed.directoryName).value_or(listed);
        for (const auto& file : project.sessionFiles) {
            if (!fileSources_.count(file)) {
                registerFile(file, project.directoryName);
                fresh.push_back(SyncJob{file, project.directoryName});
            }
        }
    }
    syncFiles(fresh, generation);
}

std::future<WorkflowWatcher::Prefetch> WorkflowWatcher::prefetch(const std::string& file) {
    // Runs on the reader's executor and may outlast this watcher: it holds only the
    // store, which outlives it.
    return reader_.async([store = &store_, file](WorkflowReader& reader) {
        Prefetch p;
        p.startOffset = store->sessionOffset(sessionIdOf(file));
        auto chunk = reader.tailFile(file, p.startOffset);
        p.entries = std::move(chunk.entries);
        p.newOffset = chunk.newOffset;
        p.more = chunk.more;
        return p;
    });
}

bool WorkflowWatcher::flush(PendingIngest& pending) {
    if (pending.batches.empty()) {
        return true;
    }
    const auto r = store_.ingest(pending.batches);
    if (!r) {
        // Offsets stay where they were: the same bytes are read at the next change.
        std::set<std::string> logged;
        for (const auto& batch : pending.batches) {
            if (logged.insert(batch.sessionId).second) {
                log_.warning("ingest " + batch.sessionId + " failed: " + r.error().message);
            }
        }
    } else {
        for (size_t i = 0; i < pending.batches.size(); ++i) {
            const auto& batch = pending.batches[i];
            // A file first read from its start is history, not live work; the later
            // chunks of that same first read are history too.
            bool& live = sessionIsLive_[batch.sessionId];
            live = live || (pending.startOffsets[i] >= 1 && !batch.entries.empty());
            if (live) {
                report(batch.entries);
            }
        }
    }
    pending = PendingIngest{};
    return r.ok();
}

void WorkflowWatcher::report(const std::vector<JSONLEntry>& entries) {
    for (const auto& entry : entries) {
        if (const auto* user = std::get_if<UserEntry>(&entry)) {
            if (onUserPromptIngested) {
                onUserPromptIngested(*user);
            }
        } else if (const auto* assistant = std::get_if<AssistantEntry>(&entry)) {
            if (onAssistantIngested) {
                onAssistantIngested(*assistant);
            }
        }
    }
}

void WorkflowWatcher::syncFiles(const std::vector<SyncJob>& jobs, uint64_t generation) {
    // Chunks of several files go into one transaction of up to kBatchBytes of input, and
    // the next chunk (or the next file's first one) is read while the store commits.
    static constexpr int64_t kBatchBytes = int64_t{16} << 20;
    PendingIngest pending;
    std::future<Prefetch> ahead;
    for (size_t i = 0; i < jobs.size() && current(generation); ++i) {
        const SyncJob& job = jobs[i];
        const std::string sessionId = sessionIdOf(job.file);
        std::future<Prefetch> first = std::move(ahead);
        if (!first.valid()) {
            if (pending.sessions.count(sessionId)) {
                flush(pending); // its stored offset must be final before it is read
            }
            first = prefetch(job.file);
        }
        if (i + 1 < jobs.size()) {
            const std::string nextSession = sessionIdOf(jobs[i + 1].file);
            if (nextSession != sessionId && !pending.sessions.count(nextSession)) {
                ahead = prefetch(jobs[i + 1].file);
            }
        }
        Prefetch head = first.get();
        int64_t offset = head.startOffset;
        WorkflowReader::TailResult chunk{std::move(head.entries), head.newOffset, head.more};
        while (!(chunk.entries.empty() && chunk.newOffset == offset)) {
            std::future<WorkflowReader::TailResult> next;
            if (chunk.more && current(generation)) {
                next = reader_.async([file = job.file, from = chunk.newOffset](WorkflowReader& r) {
                    return r.tailFile(file, from);
                });
            }
            pending.bytes += chunk.newOffset - offset;
            offset = chunk.newOffset;
            pending.sessions.insert(sessionId);
            pending.startOffsets.push_back(head.startOffset);
            pending.batches.push_back(WorkflowStore::IngestBatch{sessionId, job.projectId, job.file,
                                                                 std::move(chunk.entries), offset});
            if (pending.bytes >= kBatchBytes && !flush(pending)) {
                if (next.valid()) {
                    next.wait(); // the rest of this file waits for its next change
                }
                break;
            }
            if (!next.valid()) {
                break;
            }
            chunk = next.get();
        }
    }
    flush(pending);
    if (ahead.valid()) {
        ahead.wait();
    }
}

void WorkflowWatcher::eventLoop(int inotifyFd, int wakeFd, uint64_t instance) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const ssize_t n = ::read(inotifyFd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            return;
        }
        bool wasEmpty;
        {
            std::lock_guard lock(pendingMutex_);
            wasEmpty = pending_.empty();
            for (ssize_t pos = 0; pos < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + pos);
                pos += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                std::string name = event->len > 0 ? std::string(event->name) : std::string();
                // Repeated writes to a file that already waits for its sync add nothing.
                if ((event->mask & IN_MODIFY) && !pendingModifies_.emplace(event->wd, name).second) {
                    continue;
                }
                pending_.push_back(RawEvent{event->wd, event->mask, std::move(name)});
            }
        }
        if (wasEmpty) {
            executor_.post([this, instance] { drainEvents(instance); });
        }
    }
}

void WorkflowWatcher::drainEvents(uint64_t instance) {
    if (instance != instance_) {
        return; // queued by an instance that has since been closed
    }
    std::vector<RawEvent> events;
    {
        std::lock_guard lock(pendingMutex_);
        events.swap(pending_);
        pendingModifies_.clear();
    }
    const uint64_t generation = generation_.load();
    bool rootChanged = false;
    bool rootGone = false;
    bool ancestorChanged = false;
    std::vector<SyncJob> toSync; // first-seen order
    std::set<std::string> queued;
    for (const auto& event : events) {
        if (event.mask & IN_Q_OVERFLOW) {
            // Events were lost: look at everything again.
            log_.warning("inotify queue overflowed; rescanning " + root_);
            rootChanged = true;
            ancestorChanged = true;
            for (const auto& [file, watch] : fileSources_) {
                if (queued.insert(file).second) {
                    toSync.push_back(SyncJob{file, watch.projectId});
                }
            }
            continue;
        }
        if (event.wd == rootWatch_ && rootWatch_ >= 0) {
            (event.mask & kGone ? rootGone : rootChanged) = true;
            continue;
        }
        if (event.wd == ancestorWatch_ && ancestorWatch_ >= 0) {
            ancestorChanged = ancestorChanged || (event.mask & kGone) || event.name == ancestorNext_;
            continue;
        }
        const auto dir = directoryWatches_.find(event.wd);
        if (dir == directoryWatches_.end()) {
            continue;
        }
        if (event.mask & IN_IGNORED) {
            directoryWatches_.erase(dir);
            continue;
        }
        if (!ProjectScanner::isSessionFileName(event.name)) {
            continue;
        }
        const std::string file = dir->second.path + "/" + event.name;
        registerFile(file, dir->second.projectId);
        if (queued.insert(file).second) {
            toSync.push_back(SyncJob{file, dir->second.projectId});
        }
    }
    if (rootGone) {
        log_.info(root_ + " went away");
        loseRoot();
        toSync.clear(); // the files went with it; whatever is back there is synced below
    }
    if (rootWatch_ < 0 && (rootGone || ancestorChanged) && inotifyFd_.valid()) {
        rootChanged = armRootWatcher(rootGone) || rootChanged;
    }
    if (rootChanged && rootWatch_ >= 0) {
        handleRootChange(generation);
    }
    syncFiles(toSync, generation);
}

} // namespace perchwell
