#include "engine/transport/deferred_delete.h"

#include <utility>
#include <vector>

namespace corvane::engine {

namespace {
int g_depth = 0;
int g_eventLoopDepth = 0;
std::vector<std::function<void()>> g_retired;

// What is freed may retire more (a server lets go of its connections); that
// is freed in the same round.
void releaseRetired()
{
    while (!g_retired.empty()) {
        std::vector<std::function<void()>> batch;
        batch.swap(g_retired);
        for (std::function<void()>& release : batch)
            release();
    }
}

// A host that unloads the library while something is still retired (it
// cannot be, unless an entry never left) must not keep code that is gone.
struct UnloadGuard {
    ~UnloadGuard() { releaseRetired(); }
} g_unloadGuard;
} // namespace

EntryGuard::EntryGuard(EntryFrom from) : from_(from)
{
    ++g_depth;
    if (from_ == EntryFrom::EventLoop)
        ++g_eventLoopDepth;
}

EntryGuard::~EntryGuard()
{
    // Still counted while freeing: destructors that retire more append to
    // the list, and the kind of the entry below stays visible to them.
    if (g_depth == 1)
        releaseRetired();
    --g_depth;
    if (from_ == EntryFrom::EventLoop)
        --g_eventLoopDepth;
}

void deferDelete(std::function<void()> release)
{
    if (!release)
        return;
    if (g_depth == 0) {
        release();
        return;
    }
    g_retired.push_back(std::move(release));
}

bool insideEngine() { return g_depth > 0; }

bool insideEventLoopEntry() { return g_eventLoopDepth > 0; }

} // namespace corvane::engine
