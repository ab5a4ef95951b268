// Back-fills a transcript tree into a database and exits: the process that the crash
// test kills in the middle of its work.
//     workflow_backfill_helper <root> <database> <chunk bytes>
#include "workflow/workflow_reader.h"
#include "workflow/workflow_store.h"
#include "workflow/workflow_watcher.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    using namespace perchwell;
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <root> <database> <chunk bytes>\n", argv[0]);
        return 2;
    }
    auto store = WorkflowStore::open(argv[2]);
    if (!store) {
        std::fprintf(stderr, "%s\n", store.error().message.c_str());
        return 1;
    }
    WorkflowReader reader(std::strtoull(argv[3], nullptr, 10));
    WorkflowWatcher watcher(**store, reader, argv[1]);
    watcher.start().get();
    return 0;
}
