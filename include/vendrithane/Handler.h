// Handler: the host's receiver of what a catalog delivers: the records or categories a load
// or a walk finds, progress, completion and errors, and the change events of other
// processes a monitor reports. The host derives from it and overrides the event methods it
// wants; the defaults do nothing. A handler can keep the items delivered, replay them
// (callback), narrow them by a second filter (subFilter) and drop single ones (exclude).
//
// Delivery is synchronous, on the thread that called the load, replay or walk. One
// operation runs on a handler at a time (a second one waits); stop() and reset() may be
// called from any thread, also from an event method. A load needs a ready handler and
// leaves it not ready: reset() before the next one.
#ifndef VENDRITHANE_HANDLER_H
#define VENDRITHANE_HANDLER_H

#include "vendrithane/Asset.h"
#include "vendrithane/Category.h"
#include "vendrithane/Export.h"
#include "vendrithane/String.h"

namespace KESTRIN {
namespace Vendrithane {

class Filter;
class HandlerImpl;
struct HandlerAccess;

class VENDRITHANE_API Handler {
 public:
  // Bits of the option word (it starts as Deliver). AssetMode, CategoryMode and MonitorMode
  // form a group: option(b, true) sets b and clears the other two, option(b, false) clears
  // b and sets the other two.
  enum Options {
    Deliver = 1,       // call the item event for each item
    Keep = 2,          // keep every delivered item
    AssetMode = 4,     // the handler holds records
    CategoryMode = 8,  // the handler holds categories
    MonitorMode = 16,  // the handler runs a change monitor
  };
  // What reloadEvent reports.
  enum Ops {
    Rebuild = 0,      // the caches are being rebuilt (events were lost, or a bulk change)
    RebuildDone = 1,  // the rebuild is finished
  };

  Handler();
  Handler(const Handler&) = delete;
  Handler& operator=(const Handler&) = delete;
  virtual ~Handler();

  // Events, in this order. The index forms call the plain ones by default.
  virtual void assetEvent(Asset& asset);
  virtual void assetEvent(int index, Asset& asset);
  virtual void categoryEvent(Category& category);
  virtual void categoryEvent(int index, Category& category);
  virtual void categoryEvent(Category& category, int value);
  virtual void completeEvent();
  virtual void stoppedEvent();
  virtual void errorEvent(int status);
  virtual void countEvent(int count);
  virtual void progressEvent(unsigned int count, double fraction);
  virtual void reloadEvent(Handler::Ops op);
  virtual void categoryMembershipEvent(int id);
  virtual void categoryAddEvent(int id);
  virtual void categoryUpdateEvent(int id);
  virtual void assetUpdateEvent(int id);
  virtual void categoryDeleteEvent(int id);
  virtual void assetDeleteEvent(int id);
  // The catalog copy (Node::copy) asks before it copies a namespace or a category; the name
  // may be changed, false refuses (and keeps everything below out, unasked). A name changed
  // to one the destination has is offered again. Both run on the copying thread, inside the
  // copy's statement, with both catalogs held and before anything is written into the
  // destination: they may read either catalog, never write to one. What they throw ends
  // the copy (nothing written) and reaches the caller of copy. Both return true by default.
  virtual bool copyNamespaceEvent(String& name, bool exists);
  virtual bool copyCategoryEvent(Category const& category, String& name, bool exists);

  // The option word: replace it, test a bit, set or clear one (with the group rule).
  void options(int word);
  bool option(Handler::Options bit);
  void option(Handler::Options bit, bool on);
  // Stored and cleared by reset(); nothing reads it.
  void timeout(int ms);

  // Progress: an event every `every` items (0: every item; the default: only at the end),
  // out of a maximum (unknown by default: the fraction is then -1.0; 0 gives -1.0 too).
  void progressEvery(unsigned int every);
  unsigned int progressMax();
  void progressMax(unsigned int max);
  unsigned int progress();

  // Item events are limited to the indexes first to last (last < 0: no upper bound); every
  // item is still counted and kept. callbackRange answers 77 while an operation runs.
  int callbackFirst();
  int callbackLast();
  int callbackRange(int first, int last);

  bool active();   // a load, replay or walk runs
  bool ready();    // a load may start
  bool stopped();  // stop() was called
  // The items of the current mode the last load counted.
  int availableItems();
  // Kept item i; throws 37 outside the kept list.
  Asset asset(int i);
  Category category(int i);
  // Drops kept item i (later ones move down): 0, 37 (outside), 46 (Keep is not set).
  int exclude(int i);
  // Replays kept items first to last as item events: 0, 37 (outside the kept list), 46
  // (Keep is not set), 60 (stopped).
  int callback(int first, int last);

  // Narrows the kept items of the handler's mode (the last narrowing's list when one is in
  // place) to those the last load's filter and `filter` both select, in `filter`'s order,
  // then keeps those within `filter`'s offset and limit; availableItems() becomes the
  // number that matched. 0; 14 (Keep is not set), 34 (nothing kept), 45 (match prototypes
  // of two types, or no statement), 4, 20 (the catalog is not open), 31 (the engine
  // failed). Nothing changes on a failure.
  int subFilter(Filter& filter);
  // Puts back the items kept before the first narrowing: 0.
  int subFilter();

  // Asks the running operation to stop: a load ends with 60 and one stoppedEvent(); a
  // replay or a walk ends after its current item; a monitor (Node::monitor) is woken and
  // ends after the event it is telling, with 60.
  void stop();
  // Back to ready: stops a running operation (and, from another thread, waits for its
  // end), forgets the kept items, counts, bounds and progress. The option word, the
  // progress interval, the last filter and a narrowing's saved items stay.
  void reset();

 private:
  friend struct HandlerAccess;  // the library's own access to the implementation
  void progressInc(unsigned int flags);

  HandlerImpl* m_impl;  // never null
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_HANDLER_H
