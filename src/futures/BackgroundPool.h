#pragma once
// The background executor: one process-wide pool of workers (hardware threads, at least 2),
// made once by ZELExecutor::background() and never destroyed.
//
// Waking a sleeping worker, and its sleeping again, costs more than most items take to run, so
// the pool wakes as few workers as keeps the work moving:
// - an item wakes a sleeping worker only when more items are queued than awake workers will
//   soon take: with a worker awake, a few items may wait for it instead (see BackgroundPool.cpp);
// - while the pool is busy one idle worker, the standby, looks at the queue every millisecond,
//   and takes an item when none started for a whole period while one waited. So an item never
//   waits on a worker that runs long or blocks for more than about two milliseconds, and jobs
//   that wait for each other still run at the same time, each on its own worker;
// - a thread about to block (ZELFuture::wait) first wakes workers for all that is queued.
// BackgroundWakeBatch (BackgroundWakeBatch.h) defers wakes for a burst a thread queues.

#include <memory>

#include "zel/futures/ZELExecutor.h"

namespace zel::detail {

/// The pool; only ZELExecutor::background() calls this.
[[nodiscard]] std::shared_ptr<ZELExecutor> makeBackgroundPool();

/// True on the pool's workers.
[[nodiscard]] bool onBackgroundPoolThread() noexcept;

}  // namespace zel::detail
