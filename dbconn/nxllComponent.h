// Database client components: the named base and the shared state machine.
//
// TnxComponent (protocol/nxllNamedComponent.h) gives every database component a name, a
// class name and an optional event log; exception messages name a component through it.
//
// TnxStateComponent is the state machine that every transport, engine, session, database
// and cursor follows:
//
//            prepare            start
//   Inactive ------> Stopped ---------> Started        Unsupported: never left
//            <------         <---------
//           unprepare            stop
//
// Invariants:
//  1. The state moves one step at a time, each step by exactly one action (DoPrepare,
//     DoUnprepare, DoStart, DoStop) chosen from the next-state and action tables.
//  2. Opening a component first starts what it depends on; stepping it down first steps
//     down what depends on it (dependency notifications, see DependOn).
//  3. Closing always ends "Inactive": failures while closing are swallowed.
//  4. A step that fails on the way up is logged, the component is closed, and the failure
//     reaches the caller unchanged.
//  5. The state changes only on the thread that opens and closes the component (the GUI
//     thread); other threads may read State() at any time.
//
// A derived class that overrides the Do* hooks must call Close() in its own destructor:
// by the time the base destructor runs, the derived hooks are gone.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "protocol/nxllNamedComponent.h"

namespace vantera {

enum class TnxState : uint8_t { Inactive = 0, Unsupported = 1, Stopped = 2, Started = 3 };

// The action of a state step; None also marks "no step in progress".
enum class TnxStateTransition : uint8_t {
  None = 0,
  Prepare = 1,
  Unprepare = 2,
  Start = 3,
  Stop = 4,
  Invalid = 5,
};

// "Inactive", "Unsupported", "Stopped", "Started".
const char* nxStateName(TnxState state);
// The state one step takes a component to, from `current` towards `target`.
TnxState nxNextState(TnxState current, TnxState target);
// The action of the step from `current` to `next`.
TnxStateTransition nxStateAction(TnxState current, TnxState next);

class TnxStateComponent : public TnxComponent {
 public:
  using StateEvent = std::function<void(TnxStateComponent& sender)>;

  explicit TnxStateComponent(std::string name = {});
  // Takes the component down to "Inactive" (base hooks only, see the file comment) and
  // unlinks it from every linked component.
  ~TnxStateComponent() override;

  TnxState State() const { return state_.load(std::memory_order_acquire); }
  TnxStateTransition Transition() const { return transition_.load(std::memory_order_acquire); }
  bool Active() const { return State() == TnxState::Started; }
  bool Enabled() const { return enabled_.load(std::memory_order_acquire); }
  // Whether the component was "Started" after its last step (the stored activity).
  bool ActiveRuntime() const { return active_runtime_; }
  // When "Started" was reached; the epoch while the component is not started.
  std::chrono::system_clock::time_point StartTime() const;

  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  // true: ChangeState(Started). false: ChangeState(Inactive), except that "Unsupported"
  // is kept.
  void SetActive(bool active);
  // Moves step by step to `target`. Raises the failure of a step on the way up after
  // closing the component; closing itself never raises (except for a dependent's veto,
  // which just ends the walk).
  void ChangeState(TnxState target);
  // false closes the component first; a disabled component refuses to leave "Inactive".
  void SetEnabled(bool enabled);

  // Guards for setters and operations.
  // Before changing a setting that shapes a connection: raises "This component must be
  // inactive when performing this operation." unless inactive or unsupported.
  void CheckInactive();
  // The same for "Started" only: "This component must be inactive or stopped when
  // performing this operation."
  void CheckInactiveOrStopped();
  // Before an operation that needs a running component: "This component must be started
  // when performing this operation."
  void CheckStarted();

  // Loading from stored settings: while loading, the guards close the component instead of
  // raising; EndLoading applies the stored activity (SetActive(ActiveRuntime)).
  void BeginLoading() { loading_ = true; }
  void EndLoading(bool active_runtime);
  bool Loading() const { return loading_; }

  // Links: this component depends on `other` (a cursor on its database, a database on its
  // session, a session on its engine, the engine on its transport). Opening this one then
  // opens `other` first; stepping `other` down steps this one down first. Links are
  // removed by RemoveDependency or when either side is destroyed.
  void DependOn(TnxStateComponent* other);
  void RemoveDependency(TnxStateComponent* other);
  bool DependsOn(const TnxStateComponent* other) const;

  // Fired after every completed step.
  StateEvent OnStateChanged;
  // Fired when a step begins and when it ends.
  StateEvent OnStateTransChanged;

  // Raises the component's own exception class with `text` (and `code`, 0 for none).
  // The base raises EnxStateComponentException; transports, engines and database
  // components raise theirs.
  [[noreturn]] virtual void RaiseError(const std::string& text, uint32_t code = 0) const;

 protected:
  // The work of each step; the base does nothing. Called on the state-changing thread.
  virtual void DoPrepare() {}
  virtual void DoUnprepare() {}
  virtual void DoStart() {}
  virtual void DoStop() {}

  // A linked component is about to step from `current` to `next`. Raising
  // EnxAbortStateChange here vetoes that step; any other exception fails it. Called before
  // this component follows the step (see DependOn).
  virtual void LinkedStateChanging(TnxStateComponent& /*other*/, TnxState /*current*/,
                                   TnxState /*next*/) {}

  // A linked component is being destroyed; the link is already gone. A component that keeps
  // a pointer to it forgets it here (and may close itself).
  virtual void LinkedComponentDestroyed(TnxStateComponent* /*other*/) {}

  // Marks the component as unable to run here; only from "Inactive".
  void SetUnsupported();

 private:
  struct Link {
    TnxStateComponent* other;
    bool i_depend_on_other;
    bool other_depends_on_me;
  };

  void Step(TnxState target, bool* keep_going);
  void RunAction(TnxStateTransition action);
  void EnterState(TnxState previous, TnxState next);
  void SetTransition(TnxStateTransition transition);
  void NotifyBeforeChange(TnxState current, TnxState next, TnxStateTransition action);
  void NotifyAfterChange(TnxState previous, TnxState current);
  void DependencyBeforeChange(TnxStateComponent& sender, TnxState current, TnxState next,
                              TnxStateTransition sender_action);
  Link* FindLink(const TnxStateComponent* other);
  const Link* FindLink(const TnxStateComponent* other) const;
  void AddLink(TnxStateComponent* other, bool i_depend, bool other_depends);
  void DropLinkFlags(TnxStateComponent* other, bool i_depend, bool other_depends);
  void FireStateTransChanged();

  std::atomic<TnxState> state_{TnxState::Inactive};
  std::atomic<TnxStateTransition> transition_{TnxStateTransition::None};
  std::atomic<bool> enabled_{true};
  std::atomic<int64_t> start_time_ns_{0};
  bool active_runtime_ = false;
  bool loading_ = false;
  std::vector<Link> links_;
};

}  // namespace vantera
