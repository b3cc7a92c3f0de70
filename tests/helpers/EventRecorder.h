// A Handler for the monitor tests and the peer's `watch`: keeps what it hears of the change
// events as "name:id" words, one space between them; `then` (when set) runs inside each
// event method, after the word is kept.
#ifndef VENDRITHANE_TESTS_EVENTRECORDER_H
#define VENDRITHANE_TESTS_EVENTRECORDER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "vendrithane/Handler.h"

namespace vdtest {

class EventRecorder : public KESTRIN::Vendrithane::Handler {
 public:
  std::function<void(const std::string&)> then;
  void reloadEvent(Handler::Ops op) override { note("reload", op); }
  void categoryAddEvent(int id) override { note("add", id); }
  void categoryUpdateEvent(int id) override { note("update", id); }
  void categoryDeleteEvent(int id) override { note("delete", id); }
  void categoryMembershipEvent(int id) override { note("member", id); }
  void assetUpdateEvent(int id) override { note("asset", id); }
  void assetDeleteEvent(int id) override { note("gone", id); }

  // Waits up to 10 s for `n` events in all, then gives what was heard; take() also forgets it.
  std::string heard(int n) { return wait(n, false); }
  std::string take(int n) { return wait(n, true); }

 private:
  std::string wait(int n, bool forget) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::seconds(10), [&] { return count_ >= n; });
    std::string out = text_;
    if (forget) text_.clear();
    return out;
  }
  void note(const char* name, int id) {
    const std::string word = std::string(name) + ":" + std::to_string(id);
    {
      std::lock_guard<std::mutex> hold(lock_);
      text_ += (text_.empty() ? "" : " ") + word;
      ++count_;
      changed_.notify_all();
    }
    if (then) then(word);
  }
  std::mutex lock_;
  std::condition_variable changed_;
  std::string text_;
  int count_ = 0;
};

}  // namespace vdtest

#endif  // VENDRITHANE_TESTS_EVENTRECORDER_H
