#include "dbconn/nxllComponent.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/nxllException.h"

namespace vantera {
namespace {

using S = TnxState;

// A component that records its hooks in a shared journal and can be told to fail.
class TnxProbeComponent : public TnxStateComponent {
 public:
  TnxProbeComponent(std::string name, std::vector<std::string>* journal)
      : TnxStateComponent(std::move(name)), journal_(journal) {}
  ~TnxProbeComponent() override { Close(); }

  // A setting that shapes the connection, guarded like a transport's port.
  uint16_t Port() const { return port_; }
  void SetPort(uint16_t port) {
    if (port == port_)
      return;
    CheckInactive();
    port_ = port;
  }

  std::string fail_in;  // "prepare", "start", "stop", "unprepare"
  bool veto_steps = false;

  [[noreturn]] void RaiseError(const std::string& text, uint32_t code) const override {
    throw EnxTransportException(this, text, code);
  }

 protected:
  void DoPrepare() override { Hook("prepare"); }
  void DoUnprepare() override { Hook("unprepare"); }
  void DoStart() override { Hook("start"); }
  void DoStop() override { Hook("stop"); }
  void LinkedComponentDestroyed(TnxStateComponent* other) override {
    journal_->push_back(Name() + " forgets " + other->Name());
  }

 private:
  void Hook(const std::string& what) {
    journal_->push_back(Name() + " " + what);
    if (fail_in == what)
      throw std::runtime_error(what + " failed");
  }

  std::vector<std::string>* journal_;
  uint16_t port_ = 16000;
};

// Watches a component's events.
struct EventRecorder {
  std::vector<std::string> events;
  void Attach(TnxStateComponent& c) {
    c.OnStateChanged = [this](TnxStateComponent& s) {
      events.push_back(std::string("changed ") + nxStateName(s.State()));
    };
    c.OnStateTransChanged = [this](TnxStateComponent& s) {
      events.push_back("trans " + std::to_string(static_cast<int>(s.Transition())));
    };
  }
};

TEST(StateComponent, OpenAndClosePassThroughStopped) {
  std::vector<std::string> journal;
  EventRecorder rec;  // outlives the component, whose destructor still fires events
  TnxProbeComponent c("nxTransport", &journal);
  rec.Attach(c);
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_TRUE(c.Enabled());
  EXPECT_EQ(c.StartTime().time_since_epoch().count(), 0);

  c.Open();
  EXPECT_EQ(c.State(), S::Started);
  EXPECT_TRUE(c.ActiveRuntime());
  EXPECT_NE(c.StartTime().time_since_epoch().count(), 0);
  EXPECT_EQ(journal, (std::vector<std::string>{"nxTransport prepare", "nxTransport start"}));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"trans 1", "changed Stopped", "trans 0",
                                                  "trans 3", "changed Started", "trans 0"}));
  c.Open();  // already there: nothing happens
  EXPECT_EQ(journal.size(), 2u);

  journal.clear();
  rec.events.clear();
  c.Close();
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_FALSE(c.ActiveRuntime());
  EXPECT_EQ(c.StartTime().time_since_epoch().count(), 0);
  EXPECT_EQ(journal, (std::vector<std::string>{"nxTransport stop", "nxTransport unprepare"}));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"trans 4", "changed Stopped", "trans 0",
                                                  "trans 2", "changed Inactive", "trans 0"}));

  // Stopping only.
  c.Open();
  journal.clear();
  c.ChangeState(S::Stopped);
  EXPECT_EQ(c.State(), S::Stopped);
  EXPECT_FALSE(c.ActiveRuntime());
  EXPECT_EQ(journal, (std::vector<std::string>{"nxTransport stop"}));
}

TEST(StateComponent, DisabledComponentRefusesToOpen) {
  std::vector<std::string> journal;
  TnxProbeComponent c("nxTransport", &journal);
  c.Open();
  c.SetEnabled(false);
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_FALSE(c.Enabled());
  journal.clear();
  try {
    c.Open();
    FAIL() << "opened while disabled";
  } catch (const EnxTransportException& e) {
    EXPECT_STREQ(e.what(), "KantaDB: nxTransport: The Component is disabled. [no error code]");
  }
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_TRUE(journal.empty());
  c.SetEnabled(true);
  c.Open();
  EXPECT_EQ(c.State(), S::Started);
}

TEST(StateComponent, FailingStartIsLoggedAndEndsInactive) {
  std::vector<std::string> journal;
  MemoryEventLog log;
  TnxProbeComponent c("nxTransport", &journal);
  c.SetEventLog(&log);
  c.fail_in = "start";
  EXPECT_THROW(
      {
        try {
          c.Open();
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "start failed");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_EQ(c.Transition(), TnxStateTransition::None);
  EXPECT_EQ(journal, (std::vector<std::string>{"nxTransport prepare", "nxTransport start",
                                               "nxTransport unprepare"}));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "Error while changing state (Stopped -> Started): runtime_error: "
                             "start failed"}));

  // A failing prepare names the other step; a component exception keeps its class.
  log.Clear();
  c.fail_in.clear();
  c.SetEnabled(false);
  EXPECT_THROW(c.Open(), EnxTransportException);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "Error while changing state (Inactive -> Stopped): "
                             "EnxTransportException: KantaDB: nxTransport: The Component is "
                             "disabled. [no error code]"}));
}

TEST(StateComponent, FailuresWhileClosingAreSwallowed) {
  std::vector<std::string> journal;
  MemoryEventLog log;
  EventRecorder rec;
  TnxProbeComponent c("nxTransport", &journal);
  c.SetEventLog(&log);
  rec.Attach(c);
  c.Open();
  journal.clear();
  rec.events.clear();
  c.fail_in = "stop";
  EXPECT_NO_THROW(c.Close());
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_EQ(journal, (std::vector<std::string>{"nxTransport stop", "nxTransport unprepare"}));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"trans 4", "trans 0", "changed Stopped",
                                                  "trans 2", "changed Inactive", "trans 0"}));
  EXPECT_TRUE(log.Lines().empty());

  c.fail_in = "unprepare";
  c.Open();
  EXPECT_NO_THROW(c.Close());
  EXPECT_EQ(c.State(), S::Inactive);
}

TEST(StateComponent, GuardsRefuseChangesOfARunningComponent) {
  std::vector<std::string> journal;
  TnxProbeComponent c("nxWinsockTransport", &journal);
  c.SetPort(16001);  // inactive: allowed
  EXPECT_EQ(c.Port(), 16001);
  EXPECT_THROW(c.CheckStarted(), EnxTransportException);
  c.Open();
  try {
    c.SetPort(16002);
    FAIL() << "port changed while started";
  } catch (const EnxTransportException& e) {
    EXPECT_STREQ(e.what(),
                 "KantaDB: nxWinsockTransport: This component must be inactive when performing "
                 "this operation. [no error code]");
    EXPECT_EQ(e.ErrorCode(), 0u);
  }
  EXPECT_EQ(c.Port(), 16001);
  EXPECT_EQ(c.State(), S::Started);
  EXPECT_NO_THROW(c.SetPort(16001));  // the same value changes nothing
  EXPECT_NO_THROW(c.CheckStarted());

  try {
    c.CheckInactiveOrStopped();
    FAIL();
  } catch (const EnxTransportException& e) {
    EXPECT_EQ(e.BareText(),
              "This component must be inactive or stopped when performing this operation.");
  }
  c.ChangeState(S::Stopped);
  EXPECT_NO_THROW(c.CheckInactiveOrStopped());
  try {
    c.CheckStarted();
    FAIL();
  } catch (const EnxTransportException& e) {
    EXPECT_EQ(e.BareText(), "This component must be started when performing this operation.");
  }
  EXPECT_THROW(c.CheckInactive(), EnxTransportException);

  // While loading from stored settings the guards adjust the state instead of raising.
  c.Open();
  c.BeginLoading();
  c.SetPort(16003);
  EXPECT_EQ(c.State(), S::Inactive);
  EXPECT_EQ(c.Port(), 16003);
  c.CheckStarted();
  EXPECT_EQ(c.State(), S::Started);
  c.CheckInactiveOrStopped();
  EXPECT_EQ(c.State(), S::Stopped);
  c.EndLoading(false);
  EXPECT_EQ(c.State(), S::Inactive);
  c.BeginLoading();
  c.EndLoading(true);
  EXPECT_EQ(c.State(), S::Started);
}

TEST(StateComponent, UnsupportedNeverMoves) {
  class TnxNowhere : public TnxStateComponent {
   public:
    TnxNowhere() { SetUnsupported(); }
  } c;
  EXPECT_EQ(c.State(), S::Unsupported);
  c.Open();
  EXPECT_EQ(c.State(), S::Unsupported);
  c.Close();
  c.ChangeState(S::Inactive);
  EXPECT_EQ(c.State(), S::Unsupported);
  EXPECT_NO_THROW(c.CheckInactive());
}

TEST(StateComponent, DependenciesOpenBeneathFirstAndCloseAboveFirst) {
  std::vector<std::string> journal;
  TnxProbeComponent transport("transport", &journal);
  TnxProbeComponent engine("engine", &journal);
  TnxProbeComponent session("session", &journal);
  engine.DependOn(&transport);
  session.DependOn(&engine);
  EXPECT_TRUE(session.DependsOn(&engine));
  EXPECT_FALSE(engine.DependsOn(&session));

  session.Open();
  EXPECT_EQ(journal,
            (std::vector<std::string>{"transport prepare", "engine prepare", "session prepare",
                                      "transport start", "engine start", "session start"}));
  EXPECT_EQ(transport.State(), S::Started);

  // Closing the transport takes everything above it down first.
  journal.clear();
  transport.Close();
  EXPECT_EQ(journal, (std::vector<std::string>{"session stop", "engine stop", "transport stop",
                                               "session unprepare", "engine unprepare",
                                               "transport unprepare"}));
  EXPECT_EQ(session.State(), S::Inactive);

  // Closing the session leaves what it depends on running.
  session.Open();
  journal.clear();
  session.Close();
  EXPECT_EQ(journal, (std::vector<std::string>{"session stop", "session unprepare"}));
  EXPECT_EQ(engine.State(), S::Started);

  // A failing start beneath: the whole chain ends inactive, the failure reaches the caller.
  transport.Close();
  journal.clear();
  transport.fail_in = "start";
  EXPECT_THROW(session.Open(), std::runtime_error);
  EXPECT_EQ(session.State(), S::Inactive);
  EXPECT_EQ(engine.State(), S::Inactive);
  EXPECT_EQ(transport.State(), S::Inactive);
  transport.fail_in.clear();

  // Disabling the transport closes the chain; opening the session then fails.
  session.Open();
  transport.SetEnabled(false);
  EXPECT_EQ(session.State(), S::Inactive);
  EXPECT_THROW(session.Open(), EnxTransportException);
  EXPECT_EQ(session.State(), S::Inactive);
  transport.SetEnabled(true);

  // Unlinked components no longer follow each other.
  session.RemoveDependency(&engine);
  session.Open();
  EXPECT_EQ(engine.State(), S::Inactive);
}

TEST(StateComponent, ADependentCanVetoAStep) {
  std::vector<std::string> journal;
  TnxProbeComponent transport("transport", &journal);
  class TnxStubbornEngine : public TnxStateComponent {
   public:
    bool refuse = true;

   protected:
    void LinkedStateChanging(TnxStateComponent&, TnxState current, TnxState next) override {
      if (refuse && current == TnxState::Started && next == TnxState::Stopped)
        throw EnxAbortStateChange();
    }
  } engine;
  engine.DependOn(&transport);
  engine.Open();
  ASSERT_EQ(transport.State(), S::Started);
  journal.clear();
  // The step is skipped: no hook runs, the state stays, no step is left in progress.
  transport.ChangeState(S::Stopped);
  EXPECT_EQ(transport.State(), S::Started);
  EXPECT_EQ(transport.Transition(), TnxStateTransition::None);
  EXPECT_EQ(engine.State(), S::Started);
  // Closing ends at the veto too, without an error.
  EXPECT_NO_THROW(transport.Close());
  EXPECT_EQ(transport.State(), S::Started);
  EXPECT_TRUE(journal.empty());
  engine.refuse = false;
  transport.Close();
  EXPECT_EQ(transport.State(), S::Inactive);
  EXPECT_EQ(engine.State(), S::Inactive);
}

TEST(StateComponent, DestroyingALinkedComponentUnlinksIt) {
  std::vector<std::string> journal;
  TnxProbeComponent engine("engine", &journal);
  {
    TnxProbeComponent transport("transport", &journal);
    engine.DependOn(&transport);
    engine.Open();
    journal.clear();
  }
  EXPECT_EQ(engine.State(), S::Inactive);
  EXPECT_EQ(journal, (std::vector<std::string>{"engine stop", "transport stop", "engine unprepare",
                                               "transport unprepare", "engine forgets transport"}));
  EXPECT_FALSE(engine.DependsOn(nullptr));
  engine.Open();  // nothing beneath any more
  EXPECT_EQ(engine.State(), S::Started);
}

}  // namespace
}  // namespace vantera
