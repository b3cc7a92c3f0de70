// Handler: the default events, the option word with its group rule, progress, the kept
// items (access, exclusion, replay), stop and reset, and the delivery step and operation
// frame the loads and walks share.
#include <algorithm>
#include <memory>
#include <vector>

#include "handler/HandlerImpl.h"
#include "node/NodeAccess.h"
#include "node/NodeConnection.h"
#include "platform/SystemInfo.h"

namespace KESTRIN {
namespace Vendrithane {

using platform::RecursiveLock;

namespace {

constexpr int kModeGroup = Handler::AssetMode | Handler::CategoryMode | Handler::MonitorMode;

}  // namespace

Handler::Handler() : m_impl(new HandlerImpl) {}

Handler::~Handler() {
  delete m_impl;
}

// ---- Default events ----

void Handler::assetEvent(Asset&) {}
void Handler::assetEvent(int, Asset& asset) {
  assetEvent(asset);
}
void Handler::categoryEvent(Category&) {}
void Handler::categoryEvent(int, Category& category) {
  categoryEvent(category);
}
void Handler::categoryEvent(Category&, int) {}
void Handler::completeEvent() {}
void Handler::stoppedEvent() {
  RecursiveLock hold(m_impl->optionsLock);
}
void Handler::errorEvent(int) {}
void Handler::countEvent(int) {}
void Handler::progressEvent(unsigned int, double) {}
void Handler::reloadEvent(Handler::Ops) {}
void Handler::categoryMembershipEvent(int) {}
void Handler::categoryAddEvent(int) {}
void Handler::categoryUpdateEvent(int) {}
void Handler::assetUpdateEvent(int) {}
void Handler::categoryDeleteEvent(int) {}
void Handler::assetDeleteEvent(int) {}
bool Handler::copyNamespaceEvent(String&, bool) {
  return true;
}
bool Handler::copyCategoryEvent(Category const&, String&, bool) {
  return true;
}

// ---- Options and state ----

void Handler::options(int word) {
  RecursiveLock hold(m_impl->optionsLock);
  m_impl->optionWord = word;
}

bool Handler::option(Handler::Options bit) {
  return m_impl->option(bit);
}

void Handler::option(Handler::Options bit, bool on) {
  RecursiveLock hold(m_impl->optionsLock);
  int& word = m_impl->optionWord;
  if ((bit & kModeGroup) != 0) {
    const int others = kModeGroup & ~bit;
    word = on ? ((word | bit) & ~others) : ((word & ~bit) | others);
  } else {
    word = on ? (word | bit) : (word & ~bit);
  }
}

void Handler::timeout(int ms) {
  RecursiveLock hold(m_impl->optionsLock);
  m_impl->timeout = ms;
}

void Handler::progressEvery(unsigned int every) {
  RecursiveLock hold(m_impl->resultsLock);
  m_impl->progressEvery = every;
}

unsigned int Handler::progressMax() {
  RecursiveLock hold(m_impl->resultsLock);
  return static_cast<unsigned int>(m_impl->progressMax);
}

void Handler::progressMax(unsigned int max) {
  RecursiveLock hold(m_impl->resultsLock);
  m_impl->progressMax = max;
}

unsigned int Handler::progress() {
  RecursiveLock hold(m_impl->resultsLock);
  return m_impl->progressCount;
}

int Handler::callbackFirst() {
  RecursiveLock hold(m_impl->resultsLock);
  return m_impl->callbackFirst;
}

int Handler::callbackLast() {
  RecursiveLock hold(m_impl->resultsLock);
  return m_impl->callbackLast;
}

int Handler::callbackRange(int first, int last) {
  {
    RecursiveLock hold(m_impl->optionsLock);
    if (m_impl->active) return StatusBusy;
  }
  RecursiveLock hold(m_impl->resultsLock);
  m_impl->callbackFirst = first;
  m_impl->callbackLast = last;
  return StatusOk;
}

bool Handler::active() {
  RecursiveLock hold(m_impl->optionsLock);
  return m_impl->active;
}

bool Handler::ready() {
  RecursiveLock hold(m_impl->optionsLock);
  return m_impl->ready;
}

bool Handler::stopped() {
  return m_impl->isStopped();
}

int Handler::availableItems() {
  const bool assets = m_impl->option(AssetMode);
  RecursiveLock hold(m_impl->resultsLock);
  return assets ? m_impl->assetCount : m_impl->categoryCount;
}

// ---- Kept items ----

Asset Handler::asset(int i) {
  RecursiveLock hold(m_impl->resultsLock);
  if (i < 0 || i >= static_cast<int>(m_impl->keptAssets.size())) throw StatusOutOfBounds;
  return m_impl->keptAssets[i];
}

Category Handler::category(int i) {
  RecursiveLock hold(m_impl->resultsLock);
  if (i < 0 || i >= static_cast<int>(m_impl->keptCategories.size())) throw StatusOutOfBounds;
  return m_impl->keptCategories[i];
}

int Handler::exclude(int i) {
  if (!m_impl->option(Keep)) return StatusNotReady;
  const bool assets = m_impl->option(AssetMode);
  RecursiveLock hold(m_impl->resultsLock);
  if (assets) {
    auto& kept = m_impl->keptAssets;
    if (i < 0 || i >= static_cast<int>(kept.size()) || i >= m_impl->assetCount)
      return StatusOutOfBounds;
    kept.erase(kept.begin() + i);
    --m_impl->assetCount;
  } else {
    auto& kept = m_impl->keptCategories;
    if (i < 0 || i >= static_cast<int>(kept.size()) || i >= m_impl->categoryCount)
      return StatusOutOfBounds;
    kept.erase(kept.begin() + i);
    --m_impl->categoryCount;
  }
  return StatusOk;
}

int Handler::callback(int first, int last) {
  handler::Operation operation(*this);
  operation.begin(false);
  const bool keep = m_impl->option(Keep);
  const bool assets = m_impl->option(AssetMode);
  if (!keep) return StatusNotReady;  // nothing was kept: nothing to replay
  {
    RecursiveLock hold(m_impl->resultsLock);
    const int kept = assets ? static_cast<int>(m_impl->keptAssets.size())
                            : static_cast<int>(m_impl->keptCategories.size());
    if (first < 0 || first >= kept || last < first) return StatusOutOfBounds;
    if (last >= kept) {
      if (assets) return StatusOutOfBounds;
      last = kept - 1;  // categories: up to the last kept one
    }
    m_impl->callbackFirst = first;
    m_impl->callbackLast = last;
    m_impl->progressMax = static_cast<long long>(last) - first + 1;
    m_impl->progressCount = 0;
  }
  {
    RecursiveLock hold(m_impl->optionsLock);
    m_impl->optionWord |= Deliver;
    m_impl->replaying = true;
  }
  auto endReplay = [this] {
    RecursiveLock hold(m_impl->optionsLock);
    m_impl->replaying = false;
  };
  try {
    // Each item is taken under the results lock and delivered without it, so that its event
    // may call any method of the handler (stop() takes the options lock).
    for (int i = first; i <= last && !m_impl->isStopped(); ++i) {
      if (assets) {
        Asset item;
        {
          RecursiveLock hold(m_impl->resultsLock);
          // The host may drop kept items meanwhile: never past the list.
          if (i >= static_cast<int>(m_impl->keptAssets.size())) break;
          item = m_impl->keptAssets[i];
        }
        assetEvent(i, item);
      } else {
        std::vector<Category> item;  // Category has no empty state
        {
          RecursiveLock hold(m_impl->resultsLock);
          if (i >= static_cast<int>(m_impl->keptCategories.size())) break;
          item.push_back(m_impl->keptCategories[i]);
        }
        categoryEvent(i, item.front());
      }
      progressInc(handler::kProgressReplay);
    }
  } catch (...) {
    endReplay();
    throw;
  }
  endReplay();
  bool stopped;
  {
    RecursiveLock hold(m_impl->optionsLock);
    stopped = m_impl->stopped;
    m_impl->stopped = false;
  }
  if (stopped) {
    stoppedEvent();
    return StatusStopped;
  }
  progressInc(handler::kProgressFinal);
  return StatusOk;
}

// ---- Progress ----

void Handler::progressInc(unsigned int flags) {
  const bool final = (flags & handler::kProgressFinal) != 0;
  const bool replay = (flags & handler::kProgressReplay) != 0;
  const int options = m_impl->options();
  const bool assets = (options & AssetMode) != 0;
  const bool categories = (options & CategoryMode) != 0;
  unsigned int count;
  double fraction;
  {
    RecursiveLock hold(m_impl->resultsLock);
    if (!final) {
      ++m_impl->progressCount;
      if (!replay) {
        if (assets)
          ++m_impl->assetCount;
        else if (categories)
          ++m_impl->categoryCount;
      }
      const unsigned int every = m_impl->progressEvery == 0 ? 1 : m_impl->progressEvery;
      if (m_impl->progressCount % every != 0) return;
    }
    count = m_impl->progressCount;
    fraction = m_impl->progressMax <= 0
                   ? -1.0
                   : static_cast<double>(count) / static_cast<double>(m_impl->progressMax);
  }
  progressEvent(count, fraction);
  if (!final) return;
  int items = -1;
  {
    RecursiveLock hold(m_impl->resultsLock);
    if (assets)
      items = m_impl->assetCount;
    else if (categories)
      items = m_impl->categoryCount;
  }
  if (items >= 0) countEvent(items);
  completeEvent();
}

// ---- Stop and reset ----

void Handler::stop() {
  NodeImpl* monitored = nullptr;
  {
    RecursiveLock hold(m_impl->optionsLock);
    if (!m_impl->active && !m_impl->replaying && (m_impl->optionWord & MonitorMode) == 0) return;
    m_impl->stopped = true;
    // Only a statement of this handler's own load is interrupted.
    if (m_impl->running != nullptr) m_impl->running->interrupt();
    // A handle keeps the monitored node while its wake-up is posted, which happens with no
    // lock of the handler held.
    if (m_impl->monitorNode != nullptr && m_impl->monitorNode->shareHandle())
      monitored = m_impl->monitorNode;
  }
  if (monitored == nullptr) return;
  Node handle = NodeAccess::adopt(monitored);
  monitored->wakeMonitor();
}

void Handler::reset() {
  bool wait = false;
  bool active;
  long thread;
  {
    RecursiveLock hold(m_impl->optionsLock);
    active = m_impl->active;
    thread = m_impl->operationThread;
  }
  if (active) {
    stop();
    // From the operation's own thread (an event method) stopping is all: the operation
    // ends when the event returns.
    if (thread == platform::threadId()) return;
    wait = true;
  }
  std::unique_ptr<RecursiveLock> delivery;
  if (wait) delivery = std::make_unique<RecursiveLock>(m_impl->deliveryLock);  // its end
  RecursiveLock options(m_impl->optionsLock);
  RecursiveLock results(m_impl->resultsLock);
  m_impl->recordRows = true;
  m_impl->stopped = false;
  m_impl->replaying = false;
  m_impl->running = nullptr;
  m_impl->timeout = -1;
  m_impl->progressCount = 0;
  m_impl->progressMax = -1;
  m_impl->callbackFirst = 0;
  m_impl->callbackLast = -1;
  m_impl->assetCount = 0;
  m_impl->categoryCount = 0;
  m_impl->keptAssets.clear();
  m_impl->keptCategories.clear();
  m_impl->ready = true;
  m_impl->active = false;
}

// ---- The operation frame and the delivery step ----

namespace handler {

Operation::Operation(Handler& handler) NO_THREAD_SAFETY_ANALYSIS
    : impl_(HandlerAccess::impl(handler)) {
  impl_.deliveryLock.lock();
}

bool Operation::ready() const {
  RecursiveLock hold(impl_.optionsLock);
  return impl_.ready;
}

void Operation::begin(bool load) {
  RecursiveLock hold(impl_.optionsLock);
  if (load) impl_.ready = false;
  impl_.active = true;
  impl_.operationThread = platform::threadId();
  begun_ = true;
}

Operation::~Operation() NO_THREAD_SAFETY_ANALYSIS {
  if (begun_) {
    RecursiveLock hold(impl_.optionsLock);
    impl_.active = false;
    impl_.operationThread = 0;
    impl_.running = nullptr;
  }
  impl_.deliveryLock.unlock();
}

namespace {

// The delivery step of either kind of item: `kept` and `count` are the mode's list and
// count, `event(n)` calls its item event for index n.
template <class Item, class Event>
void deliverItem(Handler& handler, Item& item, std::vector<Item> HandlerImpl::*kept,
                 int HandlerImpl::*count, Event&& event) NO_THREAD_SAFETY_ANALYSIS {
  HandlerImpl& impl = HandlerAccess::impl(handler);
  const int options = impl.options();
  int n;
  bool within;
  {
    RecursiveLock hold(impl.resultsLock);
    if ((options & Handler::Keep) != 0) (impl.*kept).push_back(item);
    n = impl.*count;
    within = n >= impl.callbackFirst && (impl.callbackLast < 0 || n <= impl.callbackLast);
  }
  if ((options & Handler::Deliver) != 0 && within) event(n);
  HandlerAccess::progressInc(handler, kProgressRow);
}

}  // namespace

void deliver(Handler& handler, Asset& asset) {
  deliverItem(handler, asset, &HandlerImpl::keptAssets, &HandlerImpl::assetCount,
              [&](int n) { handler.assetEvent(n, asset); });
}

void deliver(Handler& handler, Category& category) {
  deliverItem(handler, category, &HandlerImpl::keptCategories, &HandlerImpl::categoryCount,
              [&](int n) { handler.categoryEvent(n, category); });
}

void deliver(Handler& handler, Category& category, int value) {
  deliverItem(handler, category, &HandlerImpl::keptCategories, &HandlerImpl::categoryCount,
              [&](int) { handler.categoryEvent(category, value); });
}

}  // namespace handler
}  // namespace Vendrithane
}  // namespace KESTRIN
