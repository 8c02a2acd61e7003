// The working parts that the main window starts at start-up and stops at shut-down, seen
// as the steps the window takes on them. Each layer plugs in its own implementation; the
// base classes do nothing, so the window runs its whole order before every part exists.
//
// All calls come on the GUI thread, in the order the window's FormCreate, BtnExitClick
// and FormClose give. A call may throw; see TfrmVantera for what each failure does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/Profil.h"

namespace vantera {

// The database connection module nxDbEng (the only instance of TnxDbEng).
class DatabaseModule {
 public:
  virtual ~DatabaseModule() = default;
  virtual void CreateDbEngine() {}
  // Hands over ServerName, ServerAddress, Port, CompressLimit, SecuredTransport and Key.
  virtual void StoreConnectionValues(const DbConnectionValues& /*values*/) {}
  virtual void OpenConnection(uint32_t /*kind*/, const std::string& /*alias*/) {}
  virtual void OpenSession() {}
  virtual void CloseConnection(int32_t /*kind*/) {}
  virtual void ReleaseDbEngine() {}
};

// The enrolment control FPRegTemplateX and the capture control FPGetTemplateX.
class FingerprintControls {
 public:
  virtual ~FingerprintControls() = default;
  virtual void InitEnrolmentControl() {}
  // Start-up calls it with 1 and the main window's native handle.
  virtual void SetCaptureOwnerWindow(int32_t /*kind*/, uintptr_t /*window*/) {}
  virtual void InitCaptureControl() {}
  virtual void StartCapture() {}  // arms the identification capture
  virtual void StopEnrolmentControl() {}
  virtual void StopCaptureControl() {}
};

// The message-server session: socket WSocketCl and the card-message table kbmMTblMsg.
class MessageLink {
 public:
  virtual ~MessageLink() = default;
  virtual void OpenMessageTable() {}  // opens the table and deletes all its records
  virtual void ConnectMsgServer() {}  // starts connecting; does not wait
  virtual void CloseSocket() {}
  virtual void CloseMessageTable() {}  // its records are discarded
};

struct WorkstationParts {
  std::unique_ptr<DatabaseModule> database = std::make_unique<DatabaseModule>();
  std::unique_ptr<FingerprintControls> fingerprint = std::make_unique<FingerprintControls>();
  std::unique_ptr<MessageLink> messages = std::make_unique<MessageLink>();
};

}  // namespace vantera
