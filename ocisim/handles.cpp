#include "ocisim/handles.h"

#include "ocisim/ora_errors.h"

#include <cstring>
#include <algorithm>

namespace ocisim {

void ErrorRecord::set(int oraCode, std::string_view arg) {
  code = oraCode;
  text = oraMessage(oraCode, arg);
}

void Session::wipePassword() {
  if (!password.empty()) explicit_bzero(password.data(), password.size());
  password.clear();
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

void Registry::closeSession(Session* s, bool explicitEnd) {
  if (!s->open()) return;
  Server* server = s->server;
  s->server = nullptr;
  if (!server->instance) return;
  if (explicitEnd)
    server->instance->endSession(s->logon);
  else
    server->instance->dropSession(s->logon);
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
      }
    }
  }
  live_.erase(h);
  h->magic = 0;
}

void Registry::free(Handle* h) {
  if (h->type != OCI_HTYPE_ENV) {
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
