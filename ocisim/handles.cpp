// The handles' own behaviour (error records, a session's password, a
// statement's cursor and binds) and the registry of live handles.
#include "ocisim/handles.h"

#include "ocisim/ora_errors.h"
#include "ocisim/session_db.h"

#include <sqlite3.h>

#include <cstring>
#include <algorithm>

namespace ocisim {

void ErrorRecord::set(int oraCode, std::string_view arg, std::string_view detail) {
  code = oraCode;
  text = oraMessage(oraCode, arg);
  if (!detail.empty()) {
    text += '\n';
    text += detail;
  }
}

void Session::wipePassword() {
  if (!password.empty()) explicit_bzero(password.data(), password.size());
  password.clear();
}

Stmt::~Stmt() { closeCursor(); }

void Stmt::closeCursor() {
  if (!db || !db->ownedHere()) cursor.release();
  cursor.adopt(nullptr);
  rowPending = false;
  exhausted = false;
}

ExternalSlot Bind::element(ub4 i) const {
  ExternalSlot e = slot;
  const ub4 valueStep = skipsSet ? valueSkip : static_cast<ub4>(slot.size > 0 ? slot.size : 0);
  if (e.value) e.value = static_cast<char*>(e.value) + static_cast<size_t>(i) * valueStep;
  if (e.indicator) e.indicator = reinterpret_cast<sb2*>(reinterpret_cast<char*>(e.indicator) + static_cast<size_t>(i) * indicatorSkip);
  if (actualLengths) e.length = reinterpret_cast<ub2*>(reinterpret_cast<char*>(actualLengths) + static_cast<size_t>(i) * lengthSkip);
  if (e.returnCode) e.returnCode = reinterpret_cast<ub2*>(reinterpret_cast<char*>(e.returnCode) + static_cast<size_t>(i) * returnCodeSkip);
  return e;
}

std::optional<ub4> Bind::actualLength(ub4 i) const {
  const ExternalSlot e = element(i);
  if (!e.length) return std::nullopt;
  return *e.length;
}

Registry& Registry::instance() {
  // Destroyed at process exit or when the library is unloaded: handles still
  // alive then are freed, which logs off their open sessions.
  static Registry registry;
  return registry;
}

Registry::~Registry() {
  std::lock_guard lock(mutex_);
  while (!envs_.empty()) free(envs_.back().get());
}

Handle* Registry::find(const void* p, ub4 type) const {
  if (!p) return nullptr;
  const auto* h = static_cast<const Handle*>(p);
  if (!live_.count(h)) return nullptr;
  if (h->magic != Handle::kMagic || h->type != type) return nullptr;
  return const_cast<Handle*>(h);
}

Env* Registry::newEnv(ub4 mode) {
  auto env = std::make_unique<Env>(mode);
  Env* raw = env.get();
  envs_.push_back(std::move(env));
  live_.insert(raw);
  return raw;
}

bool Registry::closeSession(Session* s, bool explicitEnd) {
  if (!s->open()) return true;
  Server* server = s->server;
  s->server = nullptr;
  // Logging off rolls back what the session left uncommitted.
  if (s->db) s->db->close();
  s->db.reset();
  if (!server->instance) return true;
  if (explicitEnd) return server->instance->endSession(s->logon);
  server->instance->dropSession(s->logon);
  return true;
}

void Registry::release(Handle* h) {
  if (h->type == OCI_HTYPE_SESSION) closeSession(static_cast<Session*>(h), false);
  for (const std::unique_ptr<Env>& env : envs_) {
    for (const std::unique_ptr<Handle>& child : env->children) {
      if (child->type == OCI_HTYPE_SESSION) {
        // Sessions opened through a server that goes lose their connection.
        auto* session = static_cast<Session*>(child.get());
        if (session->server == h) closeSession(session, false);
      } else if (child->type == OCI_HTYPE_SVCCTX) {
        auto* svc = static_cast<SvcCtx*>(child.get());
        if (svc->server == h) svc->server = nullptr;
        if (svc->session == h) svc->session = nullptr;
      } else if (child->type == OCI_HTYPE_STMT) {
        auto* stmt = static_cast<Stmt*>(child.get());
        if (stmt->session == h) stmt->session = nullptr;
      }
    }
  }
  // A define, bind or parameter freed on its own leaves its statement's lists.
  if (h->owner && h->owner->type == OCI_HTYPE_STMT) {
    auto* stmt = static_cast<Stmt*>(h->owner);
    for (Define*& d : stmt->defines)
      if (d == h) d = nullptr;
    for (Bind*& b : stmt->binds)
      if (b == h) b = nullptr;
    for (Param*& p : stmt->params)
      if (p == h) p = nullptr;
  }
  live_.erase(h);
  h->magic = 0;
}

void Registry::freeOwned(Handle* owner) {
  std::vector<Handle*> owned;
  for (const std::unique_ptr<Handle>& child : owner->env->children)
    if (child->owner == owner) owned.push_back(child.get());
  for (Handle* h : owned) free(h);
}

void Registry::free(Handle* h) {
  if (h->type != OCI_HTYPE_ENV) {
    freeOwned(h);
    release(h);
    auto& children = h->env->children;
    const auto it = std::find_if(children.begin(), children.end(),
                                 [h](const std::unique_ptr<Handle>& c) { return c.get() == h; });
    if (it != children.end()) children.erase(it);
    return;
  }
  auto* env = static_cast<Env*>(h);
  // Sessions first: logging them off needs their servers' connections.
  for (const std::unique_ptr<Handle>& child : env->children)
    if (child->type == OCI_HTYPE_SESSION) release(child.get());
  for (const std::unique_ptr<Handle>& child : env->children)
    if (child->type != OCI_HTYPE_SESSION) release(child.get());
  env->children.clear();
  live_.erase(env);
  env->magic = 0;
  const auto it = std::find_if(envs_.begin(), envs_.end(),
                               [env](const std::unique_ptr<Env>& e) { return e.get() == env; });
  if (it != envs_.end()) envs_.erase(it);
}

}  // namespace ocisim
