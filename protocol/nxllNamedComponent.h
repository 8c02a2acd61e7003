// The named base of every database component, and the component names that exception
// messages use. Shared by both ends: the errors of the protocol name the component that
// raised them (nxllException.h); the state machine built on it lives in dbconn/.
#pragma once

#include <string>
#include <typeinfo>
#include <utility>

#include "protocol/nxllEventLog.h"

namespace vantera {

// Unqualified name of a C++ type ("TnxWinsockTransport", "runtime_error").
std::string nxTypeName(const std::type_info& type);

class TnxComponent {
 public:
  TnxComponent() = default;
  explicit TnxComponent(std::string name) : name_(std::move(name)) {}
  virtual ~TnxComponent() = default;
  TnxComponent(const TnxComponent&) = delete;
  TnxComponent& operator=(const TnxComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // The class name of the most derived object.
  std::string ClassName() const { return nxTypeName(typeid(*this)); }

  // The name used in messages: the own name, or "<unnamed CLASS instance>".
  std::string DisplayName() const;

  // Non-owning; nullptr for none. Set before the component is used from several threads.
  EventLog* GetEventLog() const { return event_log_; }
  void SetEventLog(EventLog* log) { event_log_ = log; }
  // Writes `line` to the event log when there is one.
  void LogLine(const std::string& line) const;

 private:
  std::string name_;
  EventLog* event_log_ = nullptr;
};

// DisplayName of `component`, or "<nil pointer>" for none.
std::string nxComponentName(const TnxComponent* component);

}  // namespace vantera
