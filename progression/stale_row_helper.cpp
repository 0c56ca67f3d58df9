// The stale-row helper's thread: it follows the loop's reports on its own
// copy of the index and searches the rows whose partner was merged away,
// cheapest first. A result is the best over a superset of the row's current
// candidates, so the loop can use it exactly when its partner is still
// alive (docs/engine.md).
#include "progression/stale_row_helper.h"

#include <algorithm>

namespace tavrel::engine {

StaleRowHelper::StaleRowHelper(PartnerIndex index, std::vector<Row> firstRows, std::size_t capacity,
                               std::size_t lag)
    : index_(std::move(index), firstRows.size()),
      firstRows_(std::move(firstRows)),
      alive_(capacity, 0),
      heard_(capacity),
      dependents_(capacity, kNone),
      events_(lag),
      results_(1u << 14),
      pacer_(stop_) {
  std::fill(alive_.begin(), alive_.begin() + static_cast<std::ptrdiff_t>(firstRows_.size()), 1);
  liveCount_ = firstRows_.size();
}

void StaleRowHelper::start() {
  thread_ = std::thread([this] { run(); });
}

StaleRowHelper::~StaleRowHelper() {
  stop_.store(true, std::memory_order_release);
  if (thread_.joinable()) thread_.join();
}

void StaleRowHelper::follow(std::uint32_t x, const Row& row) {
  heard_[x] = Heard{static_cast<float>(row.cost), row.partner};
  if (row.empty()) return;
  std::uint32_t link;
  if (free_ != kNone) {
    link = free_;
    free_ = links_[link].next;
  } else {
    link = static_cast<std::uint32_t>(links_.size());
    links_.push_back(Link{});
  }
  links_[link] = Link{x, dependents_[row.partner]};
  dependents_[row.partner] = link;
}

void StaleRowHelper::apply(const Event& event) {
  alive_[event.a] = 0;
  alive_[event.b] = 0;
  alive_[event.m] = 1;
  index_.merge(event.a, event.b, event.m, --liveCount_, pacer_);
  for (const std::uint32_t gone : {event.a, event.b}) {
    std::uint32_t link = dependents_[gone];
    dependents_[gone] = kNone;
    while (link != kNone) {
      const std::uint32_t x = links_[link].x;
      const std::uint32_t next = links_[link].next;
      if (alive_[x] && heard_[x].partner == gone) {
        waiting_.push_back(Waiting{heard_[x].cost, x});
        std::push_heap(waiting_.begin(), waiting_.end());
      }
      links_[link].next = free_;
      free_ = link;
      link = next;
    }
  }
}

void StaleRowHelper::run() {
  try {
    // The first rows are taken in here rather than before the loop starts.
    for (std::uint32_t x = 0; x < firstRows_.size(); ++x) {
      follow(x, firstRows_[x]);
      if (x % 64 == 63) pacer_.tick();
    }
    firstRows_ = std::vector<Row>();
    int idle = 0;
    while (!stop_.load(std::memory_order_acquire)) {
      // Take in every merge reported so far, then search one row.
      Event event;
      bool any = false;
      while (!stop_.load(std::memory_order_relaxed) && events_.pop(&event)) {
        any = true;
        ++taken_;
        if (event.m == kNone) {
          follow(event.a, Row{event.cost, event.b});
        } else {
          apply(event);
        }
      }
      bool searched = false;
      while (!waiting_.empty() && !searched) {
        std::pop_heap(waiting_.begin(), waiting_.end());
        const Waiting next = waiting_.back();
        waiting_.pop_back();
        const std::uint32_t x = next.x;
        // Skip rows merged away or set again by the loop since.
        if (!alive_[x] || (heard_[x].partner != kNone && alive_[heard_[x].partner])) continue;
        Row row;
        index_.index().search(x, &row);
        follow(x, row);
        if (!row.empty()) results_.push(Result{x, row});
        searched = true;
      }
      if (!searched && waiting_.empty()) caughtUp_.store(taken_, std::memory_order_release);
      if (any || searched) {
        idle = 0;
      } else if (++idle > 64) {
        std::this_thread::yield();
      }
    }
  } catch (const std::bad_alloc&) {
    // Out of memory here only takes the help away.
    stop_.store(true, std::memory_order_release);
  } catch (const WorkerStopped&) {
    // The build ends; the destructor joins.
  }
}
}  // namespace tavrel::engine
