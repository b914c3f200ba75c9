// The handles and descriptors the stand-in client hands out, and the
// process-wide registry that tells a live handle from a freed or foreign pointer.
#pragma once

#include "o_oci.h"
#include "ocisim/charset.h"
#include "ocisim/instance.h"
#include "ocisim/oracle_values.h"
#include "ocisim/sql_lexer.h"
#include "ocisim/sql_translate.h"

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
  // The message of a code, with `detail` as its further lines.
  void set(int oraCode, std::string_view arg = {}, std::string_view detail = {});
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
  Handle* owner = nullptr;                 // a statement's defines, binds and parameters go with it
  std::vector<unsigned char> userMemory;   // the caller's extra memory (xtramem_sz)
};

struct Env final : Handle {
  explicit Env(ub4 mode) : Handle(OCI_HTYPE_ENV, nullptr), mode(mode) {}
  ub4 mode;
  Charset charset = Charset::AL32UTF8;  // the client's, from NLS_LANG when the environment was made
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
class SessionDb;

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

  std::string username;  // as the client set them, in its character set
  std::string password;
  Server* server = nullptr;  // the attachment the session was opened through, while open
  Logon logon;               // valid while server is set
  std::shared_ptr<SessionDb> db;  // the session's connection, while open
  bool open() const { return server != nullptr; }
};

struct Stmt;

// A select-list column as OCIParamGet hands it out; owned by its statement.
struct Param final : Handle {
  Param(Env* env, ColumnDesc column) : Handle(OCI_DTYPE_PARAM, env), column(std::move(column)) {}
  ColumnDesc column;
  std::string clientName;  // the column's name in the client's character set
};

// Where the values of one select-list position go.
struct Define final : Handle {
  explicit Define(Env* env) : Handle(OCI_HTYPE_DEFINE, env) {}
  ub4 position = 0;
  ExternalSlot slot;
  ub4 mode = OCI_DEFAULT;
  void* callbackContext = nullptr;
  OCICallbackDefine callback = nullptr;  // pieces of a dynamic (OCI_DYNAMIC_FETCH) define
};

// Where the value of one placeholder comes from and, for output, goes to.
struct Bind final : Handle {
  explicit Bind(Env* env) : Handle(OCI_HTYPE_BIND, env) {}
  std::string name;  // upper-cased, without the colon
  ExternalSlot slot;
  ub2* actualLengths = nullptr;  // alenp
  ub4 maxElements = 0;           // PL/SQL table binds
  ub4* currentElements = nullptr;
  ub4 valueSkip = 0, indicatorSkip = sizeof(sb2), lengthSkip = sizeof(ub2), returnCodeSkip = sizeof(ub2);
  bool skipsSet = false;
  // The slot of element i of an array bind.
  ExternalSlot element(ub4 i) const;
  std::optional<ub4> actualLength(ub4 i) const;
};

// A LOB or BFILE locator. Filled by a define on fetch (the value as of the
// fetch) and read or written through the LOB calls.
struct LobLocator final : Handle {
  LobLocator(ub4 type, Env* env) : Handle(type, env) {}
  bool initialized = false;
  ub2 lobType = 0;      // SQLT_CLOB, SQLT_BLOB, SQLT_BFILEE or SQLT_CFILEE
  std::string data;     // CLOB and BLOB content
  std::string directory, fileName;  // BFILE
  // Where the value lives, for locators of rows selected FOR UPDATE: writes go there.
  std::string table, column;
  long long rowid = 0;
  bool writable = false;
  std::uint64_t transaction = 0;  // the transaction that locked the row
};

// A ROWID descriptor.
struct RowidDesc final : Handle {
  explicit RowidDesc(Env* env) : Handle(OCI_DTYPE_ROWID, env) {}
  std::string rowid;
};

struct Stmt final : Handle {
  explicit Stmt(Env* env) : Handle(OCI_HTYPE_STMT, env) {}
  ~Stmt() override;
  ub4 prefetchRows = 1;
  ub4 prefetchMemory = 0;

  // Set by OCIStmtPrepare.
  bool prepared = false;
  std::string text;  // in the database's character set
  std::vector<Token> tokens;
  ub2 statementType = 0;
  std::vector<std::string> placeholders;

  // Set by OCIStmtExecute.
  bool executed = false;
  ub2 parseErrorOffset = 0;  // bytes of the text as the client sent it
  ub4 rowCount = 0;
  std::vector<ColumnDesc> columns;
  bool describedForUpdate = false;  // the cursor has a hidden last column with the row's rowid
  Session* session = nullptr;       // the session that executed it (cleared when that handle goes)
  std::shared_ptr<SessionDb> db;
  SqliteStatement cursor;
  bool rowPending = false;  // the cursor has stepped onto a row not yet fetched
  bool exhausted = false;
  std::string lastRowid;

  std::vector<Define*> defines;  // by position - 1
  // The values of the row being delivered, kept between fetches so that their
  // text buffers are reused rather than allocated for every row.
  std::vector<Value> rowValues;
  std::vector<Bind*> binds;
  std::vector<Param*> params;

  // Finalizes the SQLite cursor of the last execution; one inherited through
  // fork() is the parent's and is only let go.
  void closeCursor();
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

  // Frees the defines, binds and parameters a statement owns.
  void freeOwned(Handle* owner);

  // Logs a session off (explicit is false when its connection just dropped).
  // Returns false when an explicit logoff found the session killed.
  bool closeSession(Session* s, bool explicitEnd);

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
