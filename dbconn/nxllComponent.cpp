#include "dbconn/nxllComponent.h"

#include <exception>
#include <memory>

#include "protocol/nxllException.h"

// ---- TnxStateComponent ----

namespace vantera {
namespace {

using S = TnxState;
using A = TnxStateTransition;

// [current][target]
constexpr TnxState kNextState[4][4] = {
    {S::Inactive, S::Unsupported, S::Stopped, S::Stopped},
    {S::Unsupported, S::Unsupported, S::Unsupported, S::Unsupported},
    {S::Inactive, S::Inactive, S::Stopped, S::Started},
    {S::Stopped, S::Stopped, S::Stopped, S::Started},
};

// [current][next]
constexpr TnxStateTransition kAction[4][4] = {
    {A::None, A::None, A::Prepare, A::Invalid},
    {A::Invalid, A::None, A::Invalid, A::Invalid},
    {A::Unprepare, A::Invalid, A::None, A::Start},
    {A::Invalid, A::Invalid, A::Stop, A::None},
};

bool IsUpStep(TnxStateTransition a) {
  return a == A::Prepare || a == A::Start;
}
bool IsRealStep(TnxStateTransition a) {
  return a != A::None && a != A::Invalid;
}

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

const char* nxStateName(TnxState state) {
  switch (state) {
    case S::Inactive:
      return "Inactive";
    case S::Unsupported:
      return "Unsupported";
    case S::Stopped:
      return "Stopped";
    case S::Started:
      return "Started";
  }
  return "Invalid";
}

TnxState nxNextState(TnxState current, TnxState target) {
  return kNextState[static_cast<int>(current)][static_cast<int>(target)];
}

TnxStateTransition nxStateAction(TnxState current, TnxState next) {
  return kAction[static_cast<int>(current)][static_cast<int>(next)];
}

TnxStateComponent::TnxStateComponent(std::string name) : TnxComponent(std::move(name)) {}

TnxStateComponent::~TnxStateComponent() {
  SetActive(false);
  // Unlink first, then tell the other side, so that it can close itself without being
  // linked to a half-destroyed component.
  std::vector<Link> links;
  links.swap(links_);
  for (const Link& link : links) {
    auto& theirs = link.other->links_;
    std::erase_if(theirs, [this](const Link& l) { return l.other == this; });
  }
  for (const Link& link : links)
    link.other->LinkedComponentDestroyed(this);
}

std::chrono::system_clock::time_point TnxStateComponent::StartTime() const {
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::nanoseconds(start_time_ns_.load(std::memory_order_acquire))));
}

void TnxStateComponent::SetActive(bool active) {
  if (active) {
    ChangeState(S::Started);
  } else if (State() != S::Unsupported) {
    ChangeState(S::Inactive);
  }
}

void TnxStateComponent::SetEnabled(bool enabled) {
  if (enabled == Enabled())
    return;
  if (!enabled)
    SetActive(false);
  enabled_.store(enabled, std::memory_order_release);
}

void TnxStateComponent::SetUnsupported() {
  ChangeState(S::Unsupported);
}

void TnxStateComponent::EndLoading(bool active_runtime) {
  loading_ = false;
  SetActive(active_runtime);
}

void TnxStateComponent::FireStateTransChanged() {
  if (OnStateTransChanged)
    OnStateTransChanged(*this);
}

void TnxStateComponent::SetTransition(TnxStateTransition transition) {
  transition_.store(transition, std::memory_order_release);
  FireStateTransChanged();
}

void TnxStateComponent::ChangeState(TnxState target) {
  bool keep_going = true;
  while (keep_going && State() != target)
    Step(target, &keep_going);
}

// One step of ChangeState towards `target`. Clears *keep_going when the walk ends early.
void TnxStateComponent::Step(TnxState target, bool* keep_going) {
  const TnxState current = State();
  const TnxState next = nxNextState(current, target);
  if (next == current) {
    // Only "Unsupported" maps every target onto itself: no step can ever reach the target.
    *keep_going = false;
    return;
  }
  const TnxStateTransition action = nxStateAction(current, next);
  const TnxStateTransition previous_transition = Transition();
  try {
    SetTransition(action);
    try {
      NotifyBeforeChange(current, next, action);
    } catch (const EnxAbortStateChange&) {
      // A dependent vetoed the step: nothing changes and the walk ends here.
      SetTransition(previous_transition);
      *keep_going = false;
      return;
    }
    RunAction(action);
    EnterState(current, next);
    SetTransition(previous_transition);
  } catch (...) {
    transition_.store(previous_transition, std::memory_order_release);
    if (target == S::Inactive) {
      // Closing always arrives: the failed step counts as done.
      state_.store(next, std::memory_order_release);
      active_runtime_ = false;
      start_time_ns_.store(0, std::memory_order_release);
      try {
        FireStateTransChanged();
        if (OnStateChanged)
          OnStateChanged(*this);
      } catch (...) {
        // Observers cannot stop a close either.
      }
      return;
    }
    std::exception_ptr failure = std::current_exception();
    LogLine(std::string("Error while changing state (") + nxStateName(current) + " -> " +
            nxStateName(next) + "): " + nxExceptionClassName(failure) + ": " +
            nxExceptionMessage(failure));
    try {
      ChangeState(S::Inactive);
    } catch (...) {
      // The failure of the step is what the caller must see.
    }
    std::rethrow_exception(failure);
  }
}

void TnxStateComponent::RunAction(TnxStateTransition action) {
  switch (action) {
    case A::None:
      break;
    case A::Prepare:
      if (!Enabled())
        RaiseError("The Component is disabled.");
      DoPrepare();
      break;
    case A::Unprepare:
      DoUnprepare();
      break;
    case A::Start:
      if (!Enabled())
        RaiseError("The Component is disabled.");
      DoStart();
      break;
    case A::Stop:
      DoStop();
      break;
    case A::Invalid:
      RaiseError("Invalid state transition.");
  }
}

void TnxStateComponent::EnterState(TnxState previous, TnxState next) {
  state_.store(next, std::memory_order_release);
  active_runtime_ = next == S::Started;
  NotifyAfterChange(previous, next);
  if (OnStateChanged)
    OnStateChanged(*this);
  start_time_ns_.store(next == S::Started && previous != S::Started ? NowNs() : 0,
                       std::memory_order_release);
}

void TnxStateComponent::NotifyBeforeChange(TnxState current, TnxState next,
                                           TnxStateTransition action) {
  std::vector<TnxStateComponent*> others;
  for (const Link& link : links_)
    others.push_back(link.other);
  for (TnxStateComponent* other : others) {
    if (FindLink(other) != nullptr)  // still linked after the previous notifications
      other->DependencyBeforeChange(*this, current, next, action);
  }
}

void TnxStateComponent::NotifyAfterChange(TnxState /*previous*/, TnxState /*current*/) {
  // Linked components learn of completed steps, but no component acts on it.
}

void TnxStateComponent::DependencyBeforeChange(TnxStateComponent& sender, TnxState current,
                                               TnxState next, TnxStateTransition sender_action) {
  LinkedStateChanging(sender, current, next);
  if (Transition() != A::None || !IsRealStep(sender_action))
    return;
  const TnxState own_next = nxNextState(State(), next);
  const bool own_up = IsUpStep(nxStateAction(State(), own_next));
  if (sender_action == A::Unprepare || sender_action == A::Stop) {
    if (!own_up && DependsOn(&sender))
      ChangeState(next);
  } else {
    if (own_up && sender.DependsOn(this))
      ChangeState(next);
  }
}

TnxStateComponent::Link* TnxStateComponent::FindLink(const TnxStateComponent* other) {
  for (Link& link : links_) {
    if (link.other == other)
      return &link;
  }
  return nullptr;
}

const TnxStateComponent::Link* TnxStateComponent::FindLink(const TnxStateComponent* other) const {
  for (const Link& link : links_) {
    if (link.other == other)
      return &link;
  }
  return nullptr;
}

void TnxStateComponent::AddLink(TnxStateComponent* other, bool i_depend, bool other_depends) {
  if (Link* link = FindLink(other)) {
    link->i_depend_on_other |= i_depend;
    link->other_depends_on_me |= other_depends;
  } else {
    links_.push_back(Link{other, i_depend, other_depends});
  }
}

void TnxStateComponent::DropLinkFlags(TnxStateComponent* other, bool i_depend, bool other_depends) {
  Link* link = FindLink(other);
  if (link == nullptr)
    return;
  if (i_depend)
    link->i_depend_on_other = false;
  if (other_depends)
    link->other_depends_on_me = false;
  if (!link->i_depend_on_other && !link->other_depends_on_me)
    std::erase_if(links_, [other](const Link& l) { return l.other == other; });
}

void TnxStateComponent::DependOn(TnxStateComponent* other) {
  if (other == nullptr || other == this)
    return;
  AddLink(other, true, false);
  other->AddLink(this, false, true);
}

void TnxStateComponent::RemoveDependency(TnxStateComponent* other) {
  if (other == nullptr || other == this)
    return;
  DropLinkFlags(other, true, false);
  other->DropLinkFlags(this, false, true);
}

bool TnxStateComponent::DependsOn(const TnxStateComponent* other) const {
  const Link* link = FindLink(other);
  return link != nullptr && link->i_depend_on_other;
}

void TnxStateComponent::RaiseError(const std::string& text, uint32_t code) const {
  throw EnxStateComponentException(this, text, code);
}

void TnxStateComponent::CheckInactive() {
  const TnxState s = State();
  if (s == S::Inactive || s == S::Unsupported)
    return;
  if (loading_) {
    SetActive(false);
    return;
  }
  RaiseError("This component must be inactive when performing this operation.");
}

void TnxStateComponent::CheckInactiveOrStopped() {
  if (State() != S::Started)
    return;
  if (loading_) {
    ChangeState(S::Stopped);
    return;
  }
  RaiseError("This component must be inactive or stopped when performing this operation.");
}

void TnxStateComponent::CheckStarted() {
  if (State() != S::Started && loading_)
    SetActive(true);
  if (State() != S::Started)
    RaiseError("This component must be started when performing this operation.");
}

}  // namespace vantera
