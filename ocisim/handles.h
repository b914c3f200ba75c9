// The handles and descriptors the stand-in client hands out, and the
// process-wide registry that tells a live handle from a freed or foreign pointer.
#pragma once

#include "oralib/o_oci.h"
#include "ocisim/instance.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace ocisim {

// The one diagnostic record of an error or environment handle. A successful
// call leaves it alone: the handle keeps its last error until the next failing
// call overwrites it.
struct ErrorRecord {
  sb4 code = 0;
  std::string text;  // "ORA-nnnnn: ..."
  void set(int oraCode, std::string_view arg = {});
  bool empty() const { return code == 0 && text.empty(); }
};

struct Env;

struct Handle {
  Handle(ub4 type, Env* env) : type(type), env(env) {}
  virtual ~Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  static constexpr ub4 kMagic = 0x4F434953;
  ub4 magic = kMagic;
  ub4 type;                                // OCI_HTYPE_* or OCI_DTYPE_*
  Env* env;                                // owning environment; null for an environment
  std::vector<unsigned char> userMemory;   // the caller's extra memory (xtramem_sz)
};

struct Env final : Handle {
  explicit Env(ub4 mode) : Handle(OCI_HTYPE_ENV, nullptr), mode(mode) {}
  ub4 mode;
  ErrorRecord error;  // failures of calls that have no error handle
  std::vector<std::unique_ptr<Handle>> children;
};

struct Error final : Handle {
  explicit Error(Env* env) : Handle(OCI_HTYPE_ERROR, env) {}
  ErrorRecord record;
};

struct Server final : Handle {
  explicit Server(Env* env) : Handle(OCI_HTYPE_SERVER, env) {}
  std::unique_ptr<Instance> instance;  // set while attached
};

struct Session;

// Back references are cleared when the handle they name is freed, so they are
// either null or live.
struct SvcCtx final : Handle {
  explicit SvcCtx(Env* env) : Handle(OCI_HTYPE_SVCCTX, env) {}
  Server* server = nullptr;
  Session* session = nullptr;
};

struct Session final : Handle {
  explicit Session(Env* env) : Handle(OCI_HTYPE_SESSION, env) {}
  ~Session() override { wipePassword(); }
  void wipePassword();

  std::string username;
  std::string password;
  Server* server = nullptr;  // the attachment the session was opened through, while open
  Logon logon;               // valid while server is set
  bool open() const { return server != nullptr; }
};

struct Stmt final : Handle {
  explicit Stmt(Env* env) : Handle(OCI_HTYPE_STMT, env) {}
  ub4 prefetchRows = 1;
  ub4 prefetchMemory = 0;
};

// Transaction and describe handles, and descriptors: nothing to hold yet.
struct Plain final : Handle {
  Plain(ub4 type, Env* env) : Handle(type, env) {}
};

// Every live handle of the process. All entry points run under its lock.
class Registry {
 public:
  static Registry& instance();
  ~Registry();

  std::recursive_mutex& mutex() { return mutex_; }

  // The handle at p when it is live and of the given type, else null. Never
  // reads memory at p unless p is a live handle.
  Handle* find(const void* p, ub4 type) const;
  template <class T>
  T* find(const void* p, ub4 type) const {
    return static_cast<T*>(find(p, type));
  }

  Env* newEnv(ub4 mode);
  template <class T, class... Args>
  T* newChild(Env* env, Args&&... args) {
    auto child = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = child.get();
    env->children.push_back(std::move(child));
    live_.insert(raw);
    return raw;
  }

  // Frees a handle; an environment takes all its children with it. Open user
  // sessions among them lose their connection, so their rows go.
  void free(Handle* h);

  // Logs a session off (explicit is false when its connection just dropped).
  void closeSession(Session* s, bool explicitEnd);

 private:
  Registry() = default;
  // Takes a handle out of service: logs off what depends on it, clears the
  // back references to it and forgets it. Does not destroy it.
  void release(Handle* h);

  mutable std::recursive_mutex mutex_;
  std::unordered_set<const Handle*> live_;
  std::vector<std::unique_ptr<Env>> envs_;
};

}  // namespace ocisim
