// TnxDbComponent, TnxSession and TnxDatabase.
#include <algorithm>
#include <chrono>
#include <exception>
#include <mutex>

#include "dbclient/nxdb.h"
#include "protocol/bounded_wait.h"
#include "protocol/nxllException.h"

namespace vantera {

namespace {

std::mutex g_beep_mutex;
std::function<void()> g_beep;

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos)
    return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

}  // namespace

void nxSetBeepHandler(std::function<void()> beep) {
  std::lock_guard<std::mutex> lock(g_beep_mutex);
  g_beep = std::move(beep);
}

void nxBeep() {
  std::function<void()> beep;
  {
    std::lock_guard<std::mutex> lock(g_beep_mutex);
    beep = g_beep;
  }
  if (beep)
    beep();
}

void TnxDbComponent::RaiseError(const std::string& text, uint32_t code) const {
  throw EnxDatabaseError(this, text, code);
}

void TnxDbComponent::Check(uint32_t code) const {
  if (code != 0)
    throw EnxDatabaseError(this, code);
}

// ===================================== session =====================================

TnxSession::TnxSession(std::string name) : TnxDbComponent(std::move(name)) {}

TnxSession::~TnxSession() {
  Close();
  for (TnxDatabase* db : databases_)
    db->session_ = nullptr;
}

void TnxSession::SetServerEngine(TnxRemoteServerEngine* engine) {
  if (engine == engine_)
    return;
  CheckInactive();
  if (engine_)
    RemoveDependency(engine_);
  engine_ = engine;
  if (engine_)
    DependOn(engine_);
}

void TnxSession::LinkedComponentDestroyed(TnxStateComponent* other) {
  if (other == engine_) {
    engine_ = nullptr;
    Close();
  }
}

void TnxSession::DoStart() {
  if (!engine_)
    Check(nxcode::kSessionNotConnected);
  std::string user = UserName;
  std::string password = Password;
  uint32_t code = engine_->SessionOpen(user, password, timeout_, remote_);
  int retries = 0;
  while (code == nxcode::kUnknownUserOrPassword && retries < PasswordRetries) {
    if (BeepOnLoginError)
      nxBeep();
    if (!OnLogin || !OnLogin(*this, user, password))
      break;
    ++retries;
    code = engine_->SessionOpen(user, password, timeout_, remote_);
  }
  Check(code);
}

void TnxSession::DoStop() {
  remote_.reset();
}

bool TnxSession::ConnectionLost() const {
  if (reopen_pending_)
    return true;
  TnxBaseTransport* transport = engine_ ? engine_->Transport() : nullptr;
  return transport && transport->ConnectionLost();
}

void TnxSession::Reconnect(TnxDatabase* also) {
  TnxBaseTransport* top = engine_ ? engine_->Transport() : nullptr;
  if (!top || DatabaseWaitsInterrupted())
    return;  // nothing to reopen, or the program is ending: the operation fails as it is
  std::vector<TnxDatabase*> reopen;
  for (TnxDatabase* db : databases_) {
    if (db->Active() || db == also)
      reopen.push_back(db);
  }
  if (also && std::find(reopen.begin(), reopen.end(), also) == reopen.end())
    reopen.push_back(also);
  reopen_pending_ = true;
  // Nothing more is awaited from the lost server: the close requests of the cursors, the
  // databases and the session fail at once. Closing a transport closes what depends on it
  // first (engine, session, databases, tables); an inner transport is closed after the one
  // that runs through it.
  for (TnxBaseTransport* t = top; t; t = t->InnerTransport())
    t->Abandon();
  for (TnxBaseTransport* t = top; t; t = t->InnerTransport())
    t->Close();
  Close();
  try {
    Open();
    for (TnxDatabase* db : reopen)
      db->Open();
  } catch (const std::exception& error) {
    if (OnReconnect)
      OnReconnect(std::string(kReconnectFailedLine) + error.what());
    throw;
  }
  reopen_pending_ = false;
  if (OnReconnect)
    OnReconnect(kReconnectedLine);
}

void TnxSession::SetTimeout(uint32_t timeout) {
  if (remote_) {
    Check(remote_->SetTimeout(timeout));
    timeout_ = timeout;
    for (TnxDatabase* db : databases_)
      db->ApplyTimeout();
    return;
  }
  timeout_ = timeout;
}

// ===================================== database =====================================

TnxDatabase::TnxDatabase(std::string name) : TnxDbComponent(std::move(name)) {}

TnxDatabase::~TnxDatabase() {
  Close();
  if (session_) {
    auto& list = session_->databases_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  for (TnxDataset* ds : datasets_)
    ds->database_ = nullptr;
}

void TnxDatabase::SetSession(TnxSession* session) {
  if (session == session_)
    return;
  CheckInactive();
  if (session_) {
    RemoveDependency(session_);
    auto& list = session_->databases_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  session_ = session;
  if (session_) {
    DependOn(session_);
    session_->databases_.push_back(this);
  }
}

void TnxDatabase::LinkedComponentDestroyed(TnxStateComponent* other) {
  if (other == session_) {
    session_ = nullptr;
    Close();
  }
}

void TnxDatabase::SetAliasName(const std::string& name) {
  std::string trimmed = Trim(name);
  if (trimmed == alias_name_)
    return;
  CheckInactive();
  alias_name_ = trimmed;
  if (!alias_name_.empty())
    alias_path_.clear();
}

void TnxDatabase::SetAliasPath(const std::string& path) {
  std::string trimmed = Trim(path);
  if (trimmed.size() == 2 && trimmed[1] == ':')
    trimmed += '\\';  // a bare drive keeps its root
  else if (trimmed.size() > 1 && trimmed.back() == '\\' &&
           !(trimmed.size() == 3 && trimmed[1] == ':'))
    trimmed.pop_back();
  if (trimmed == alias_path_)
    return;
  CheckInactive();
  alias_path_ = trimmed;
  if (!alias_path_.empty())
    alias_name_.clear();
}

void TnxDatabase::SetReadOnly(bool read_only) {
  if (read_only == read_only_)
    return;
  CheckInactive();
  read_only_ = read_only;
}

void TnxDatabase::SetExclusive(bool exclusive) {
  if (exclusive == exclusive_)
    return;
  CheckInactive();
  exclusive_ = exclusive;
}

uint32_t TnxDatabase::ResolvedTimeout() const {
  if (timeout_ >= 0)
    return static_cast<uint32_t>(timeout_);
  return session_ ? session_->Timeout() : kDefaultSessionTimeout;
}

void TnxDatabase::SetTimeout(int32_t timeout) {
  timeout_ = timeout;
  ApplyTimeout();
}

void TnxDatabase::ApplyTimeout() {
  if (!remote_)
    return;
  Check(remote_->SetTimeout(ResolvedTimeout()));
  for (TnxDataset* ds : datasets_)
    if (ds->cursor_)
      ds->Check(ds->cursor_->SetTimeout(ds->ResolvedTimeout()));
}

void TnxDatabase::DoStart() {
  if (!session_)
    RaiseError("No owning session");
  if (alias_name_.empty() && alias_path_.empty())
    RaiseError("AliasName or AliasPath must be specified");
  TnxRemoteSession* remote_session = session_->RemoteSession();
  if (!remote_session)
    Check(nxcode::kSessionNotConnected);
  bool by_path = alias_name_.empty();
  const auto started = std::chrono::steady_clock::now();
  uint32_t code =
      remote_session->DatabaseOpen(by_path, by_path ? alias_path_ : alias_name_, read_only_ ? 0 : 2,
                                   exclusive_ ? 0 : 1, ResolvedTimeout(), remote_);
  // A connection found broken at once: the chain is opened again, and the database once
  // more (see TnxDataset::DoStart).
  if (code != 0 && std::chrono::steady_clock::now() - started < TnxDataset::kQuickLoss &&
      session_->ConnectionLost() && !DatabaseWaitsInterrupted()) {
    session_->Reconnect();
    remote_session = session_->RemoteSession();
    if (!remote_session)
      Check(nxcode::kSessionNotConnected);
    code = remote_session->DatabaseOpen(by_path, by_path ? alias_path_ : alias_name_,
                                        read_only_ ? 0 : 2, exclusive_ ? 0 : 1, ResolvedTimeout(),
                                        remote_);
  }
  Check(code);
}

void TnxDatabase::DoStop() {
  remote_.reset();
}

}  // namespace vantera
