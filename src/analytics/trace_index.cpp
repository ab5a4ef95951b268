#include "analytics/trace_index.h"

#include "analytics/local_calendar.h"
#include "analytics/trace_parser.h"
#include "common/file_util.h"
#include "common/substring_search.h"
#include "common/utf8.h"
#include "platform/paths.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace perchwell {
namespace {

constexpr char fieldSeparator = '\x01';
constexpr size_t searchBatchBytes = size_t{8} << 20;
constexpr size_t textSliceBytes = size_t{4} << 20;

// An unlinked file: nothing is left behind, whatever way the process ends.
UniqueFd openTextFile() {
    (void)Paths::ensureDataDirectory();
    for (const std::string& dir : {Paths::dataDirectory(), std::string("/tmp")}) {
        UniqueFd fd(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (fd.valid()) {
            return fd;
        }
    }
    return UniqueFd();
}

bool pwriteAll(int fd, std::string_view data, uint64_t offset) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool preadAll(int fd, char* data, size_t size, int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

} // namespace

TraceIndex::TraceIndex(std::string root, unsigned workers)
    : pass_(std::move(root), TranscriptPass::Options{workers, false, false, {}}) {}

void TraceIndex::reset() {
    ledger_.clear();
    records_.clear();
    order_.clear();
    rank_.clear();
    sessions_.clear();
    sessionIndex_.clear();
    text_ = openTextFile();
    textSize_ = 0;
}

void TraceIndex::appendSearchText(const TraceEntry& entry, std::string& out) {
    if (const auto* u = entry.user()) {
        utf8::appendLowercased(out, u->text);
        return;
    }
    const auto* a = entry.assistant();
    utf8::appendLowercased(out, a->text);
    for (const auto& tool : a->toolUses) {
        out += fieldSeparator;
        utf8::appendLowercased(out, tool.name);
        out += fieldSeparator;
        utf8::appendLowercased(out, tool.inputJSON);
    }
    if (a->model) {
        out += fieldSeparator;
        utf8::appendLowercased(out, *a->model);
    }
}

bool TraceIndex::earlier(uint32_t a, uint32_t b) const {
    const Record& x = records_[a];
    const Record& y = records_[b];
    if (x.timestamp != y.timestamp) {
        return x.timestamp < y.timestamp;
    }
    return x.file != y.file ? x.file < y.file : x.offset < y.offset;
}

TranscriptPass::Outcome TraceIndex::refresh() {
    if (!text_.valid()) {
        text_ = openTextFile();
    }
    std::vector<Pending> pending(pass_.workers());
    std::vector<UsageLedger> ledgers(pass_.workers());
    std::vector<LocalDayCache> calendars(pass_.workers());
    std::atomic<uint64_t> textEnd{textSize_};
    // Each worker writes its text in slices at offsets it reserves, so the text of a
    // first pass over gigabytes is never all in memory.
    const auto flush = [&](Pending& p) {
        const uint64_t base = textEnd.fetch_add(p.text.size());
        const bool stored = text_.valid() && pwriteAll(text_.get(), p.text, base);
        for (size_t i = p.flushed; i < p.records.size(); ++i) {
            p.records[i].textStart += base;
            if (!stored) {
                p.records[i].textLength = 0; // a full disk: search misses these, the figures stay right
            }
        }
        p.flushed = p.records.size();
        p.text.clear();
    };
    const auto outcome = pass_.refresh(
        [&](unsigned worker, const TraceEntry& entry, const TranscriptPass::Line& line) {
            auto& p = pending[worker];
            const uint64_t start = p.text.size();
            appendSearchText(entry, p.text);
            auto [it, fresh] =
                p.sessionIndex.try_emplace(entry.sessionId(), static_cast<uint32_t>(p.sessions.size()));
            if (fresh) {
                p.sessions.push_back(entry.sessionId());
            }
            p.records.push_back({line.offset, start, entry.timestamp(), static_cast<uint32_t>(line.file),
                                 line.length, static_cast<uint32_t>(p.text.size() - start), it->second});
            if (const auto* turn = entry.assistant()) {
                ledgers[worker].add(*turn, calendars[worker].dayNumber(turn->timestamp));
            }
            if (p.text.size() >= textSliceBytes) {
                flush(p);
            }
        },
        [&] {
            reset();
            textEnd = 0;
        });
    const size_t before = records_.size();
    for (auto& p : pending) {
        flush(p);
        std::vector<uint32_t> sessionMap;
        for (const auto& s : p.sessions) {
            auto [it, fresh] = sessionIndex_.try_emplace(s, static_cast<uint32_t>(sessions_.size()));
            if (fresh) {
                sessions_.push_back(s);
            }
            sessionMap.push_back(it->second);
        }
        for (auto r : p.records) {
            r.session = sessionMap[r.session];
            records_.push_back(r);
        }
        p = Pending();
    }
    textSize_ = textEnd.load();
    for (auto& l : ledgers) {
        ledger_.merge(std::move(l));
    }
    // Workers write their slices in any order: the search reads in text order.
    std::sort(records_.begin() + static_cast<std::ptrdiff_t>(before), records_.end(),
              [](const Record& a, const Record& b) { return a.textStart < b.textStart; });
    // New records are mostly newer than the old ones: sort them and merge.
    const size_t middle = order_.size();
    for (size_t i = before; i < records_.size(); ++i) {
        order_.push_back(static_cast<uint32_t>(i));
    }
    const auto less = [this](uint32_t a, uint32_t b) { return earlier(a, b); };
    std::sort(order_.begin() + static_cast<std::ptrdiff_t>(middle), order_.end(), less);
    std::inplace_merge(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(middle), order_.end(),
                       less);
    rank_.assign(records_.size(), 0);
    for (size_t i = 0; i < order_.size(); ++i) {
        rank_[order_[i]] = static_cast<uint32_t>(i);
    }
    return outcome;
}

std::optional<TraceEntry> TraceIndex::readBack(const Record& r, OpenFiles& open) const {
    auto it = open.find(r.file);
    if (it == open.end()) {
        it =
            open.emplace(r.file, UniqueFd(::open(pass_.files()[r.file].c_str(), O_RDONLY | O_CLOEXEC))).first;
    }
    if (!it->second.valid()) {
        return std::nullopt;
    }
    std::string line(r.length, '\0');
    if (!preadAll(it->second.get(), line.data(), line.size(), r.offset)) {
        return std::nullopt;
    }
    return TraceParser::parse(line);
}

std::vector<TraceSearch::Hit> TraceIndex::search(std::string_view query) const {
    std::vector<TraceSearch::Hit> hits;
    const auto tokens = TraceSearch::tokenize(query);
    if (tokens.empty() || records_.empty() || !text_.valid()) {
        return hits;
    }
    // Every token must occur in the entry's text for any field to match: a superset of
    // the hits, checked exactly on the entries read back.
    std::vector<uint32_t> candidates;
    std::string batch;
    for (size_t i = 0; i < records_.size();) {
        const uint64_t from = records_[i].textStart;
        size_t j = i;
        uint64_t to = from;
        while (j < records_.size() &&
               (j == i || records_[j].textStart + records_[j].textLength - from <= searchBatchBytes)) {
            to = records_[j].textStart + records_[j].textLength;
            ++j;
        }
        batch.resize(to - from);
        if (!preadAll(text_.get(), batch.data(), batch.size(), static_cast<int64_t>(from))) {
            break;
        }
        for (size_t k = i; k < j; ++k) {
            const std::string_view text(batch.data() + (records_[k].textStart - from),
                                        records_[k].textLength);
            if (std::all_of(tokens.begin(), tokens.end(),
                            [&](const std::string& t) { return containsSubstring(text, t); })) {
                candidates.push_back(static_cast<uint32_t>(k));
            }
        }
        i = j;
    }
    std::sort(candidates.begin(), candidates.end(),
              [this](uint32_t a, uint32_t b) { return rank_[a] < rank_[b]; });
    // Reading back and snippets cost most when many entries match: split across cores,
    // each taking a contiguous run so the hits stay in order.
    const size_t parts = std::clamp<size_t>(candidates.size() / 256, 1, std::max(1u, pass_.workers()));
    std::vector<std::vector<TraceSearch::Hit>> found(parts);
    const auto verify = [&](size_t part) {
        OpenFiles open;
        const size_t from = candidates.size() * part / parts;
        const size_t to = candidates.size() * (part + 1) / parts;
        for (size_t i = from; i < to; ++i) {
            if (auto entry = readBack(records_[candidates[i]], open)) {
                TraceSearch::hitsFor(std::make_shared<const TraceEntry>(std::move(*entry)), tokens,
                                     found[part]);
            }
        }
    };
    std::vector<std::thread> threads;
    for (size_t p = 1; p < parts; ++p) {
        threads.emplace_back(verify, p);
    }
    verify(0);
    for (auto& t : threads) {
        t.join();
    }
    for (auto& part : found) {
        std::move(part.begin(), part.end(), std::back_inserter(hits));
    }
    return hits;
}

std::vector<TraceTurn> TraceIndex::sessionTurns(const std::string& sessionId) const {
    OpenFiles open;
    std::vector<TraceTurn> turns;
    const auto it = sessionIndex_.find(sessionId);
    if (it == sessionIndex_.end()) {
        return turns;
    }
    for (uint32_t i : order_) {
        if (records_[i].session != it->second) {
            continue;
        }
        if (auto entry = readBack(records_[i], open); entry && entry->assistant()) {
            turns.push_back(std::move(*entry->assistant()));
        }
    }
    return turns;
}

std::vector<TraceEntry> TraceIndex::entries() const {
    OpenFiles open;
    std::vector<TraceEntry> out;
    for (uint32_t i : order_) {
        if (auto entry = readBack(records_[i], open)) {
            out.push_back(std::move(*entry));
        }
    }
    return out;
}

} // namespace perchwell
