// OCIAttrSet and OCIAttrGet: the attributes of every kind of handle.
#include "ocisim/entry_points/call.h"

#include "ocisim/session_db.h"

#include <algorithm>
#include <cstring>

namespace ocisim {
namespace {

constexpr size_t kMaxAttributeText = 4096;

}  // namespace
}  // namespace ocisim

using namespace ocisim;

OCISIM_EXPORT sword OCIAttrSet(dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4 size,
                               ub4 attrtype, OCIError* errhp) {
  return run(EntryPoint::OCIAttrSet, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 6);
    Handle* target = need<Handle>(trgthndlp, trghndltyp, 1);
    checkArmed(EntryPoint::OCIAttrSet);
    Registry& reg = Registry::instance();
    switch (trghndltyp) {
      case OCI_HTYPE_SVCCTX: {
        auto* svc = static_cast<SvcCtx*>(target);
        if (attrtype == OCI_ATTR_SERVER) {
          svc->server = attributep ? reg.find<Server>(attributep, OCI_HTYPE_SERVER) : nullptr;
          if (attributep && !svc->server) throw InvalidHandle{3};
          return OCI_SUCCESS;
        }
        if (attrtype == OCI_ATTR_SESSION) {
          svc->session = attributep ? reg.find<Session>(attributep, OCI_HTYPE_SESSION) : nullptr;
          if (attributep && !svc->session) throw InvalidHandle{3};
          return OCI_SUCCESS;
        }
        break;
      }
      case OCI_HTYPE_SESSION: {
        auto* session = static_cast<Session*>(target);
        if (attrtype != OCI_ATTR_USERNAME && attrtype != OCI_ATTR_PASSWORD) break;
        if (size > 0 && !attributep) throw OraError(kOraBadArgument, "3");
        if (size > kMaxAttributeText) throw OraError(kOraBadAttributeValue);
        const std::string_view value(static_cast<const char*>(attributep), size);
        if (attrtype == OCI_ATTR_USERNAME) {
          session->username.assign(value);
        } else {
          session->wipePassword();
          session->password.assign(value);
        }
        return OCI_SUCCESS;
      }
      case OCI_HTYPE_STMT: {
        auto* stmt = static_cast<Stmt*>(target);
        if (attrtype != OCI_ATTR_PREFETCH_ROWS && attrtype != OCI_ATTR_PREFETCH_MEMORY) break;
        if (!attributep) throw OraError(kOraBadArgument, "3");
        ub4 value = 0;
        std::memcpy(&value, attributep, sizeof value);
        (attrtype == OCI_ATTR_PREFETCH_ROWS ? stmt->prefetchRows : stmt->prefetchMemory) = value;
        return OCI_SUCCESS;
      }
      default: break;
    }
    throw OraError(kOraBadAttribute);
  });
}

OCISIM_EXPORT sword OCIAttrGet(const dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep,
                               ub4* sizep, ub4 attrtype, OCIError* errhp) {
  return run(EntryPoint::OCIAttrGet, [&](Call& call) -> sword {
    useErrorHandle(call, errhp, 6);
    Handle* target = need<Handle>(trgthndlp, trghndltyp, 1);
    checkArmed(EntryPoint::OCIAttrGet);
    if (!attributep) throw OraError(kOraBadArgument, "3");
    Registry& reg = Registry::instance();
    // Writes a fixed-size attribute value and its size.
    const auto put = [&](auto value) -> sword {
      std::memcpy(attributep, &value, sizeof value);
      if (sizep) *sizep = sizeof value;
      return OCI_SUCCESS;
    };
    switch (trghndltyp) {
      case OCI_HTYPE_SVCCTX: {
        auto* svc = static_cast<SvcCtx*>(target);
        if (attrtype == OCI_ATTR_SERVER) {
          *static_cast<void**>(attributep) = svc->server;
          return OCI_SUCCESS;
        }
        if (attrtype == OCI_ATTR_SESSION) {
          *static_cast<void**>(attributep) = svc->session;
          return OCI_SUCCESS;
        }
        break;
      }
      case OCI_HTYPE_SESSION: {
        // The user name can be read back; the password is write-only.
        auto* session = static_cast<Session*>(target);
        if (attrtype != OCI_ATTR_USERNAME) break;
        *static_cast<const text**>(attributep) =
            reinterpret_cast<const text*>(session->username.c_str());
        if (sizep) *sizep = static_cast<ub4>(session->username.size());
        return OCI_SUCCESS;
      }
      case OCI_HTYPE_STMT: {
        auto* stmt = static_cast<Stmt*>(target);
        if (attrtype == OCI_ATTR_PREFETCH_ROWS || attrtype == OCI_ATTR_PREFETCH_MEMORY) {
          const ub4 value =
              attrtype == OCI_ATTR_PREFETCH_ROWS ? stmt->prefetchRows : stmt->prefetchMemory;
          return put(value);
        }
        if (attrtype == OCI_ATTR_ROWID) {
          // The descriptor itself is passed and filled.
          auto* rowid = reg.find<RowidDesc>(attributep, OCI_DTYPE_ROWID);
          if (!rowid) throw OraError(kOraBadArgument, "3");
          if (!stmt->executed) throw OraError(kOraStmtNotExecuted);
          rowid->rowid = stmt->lastRowid;
          return OCI_SUCCESS;
        }
        if (attrtype == OCI_ATTR_PARSE_ERROR_OFFSET) return put(stmt->parseErrorOffset);
        // Everything else a statement tells comes from preparing it.
        if (!stmt->prepared) throw OraError(kOraStmtNotPrepared);
        if (attrtype == OCI_ATTR_STMT_TYPE) return put(stmt->statementType);
        if (attrtype == OCI_ATTR_ROW_COUNT) return put(stmt->rowCount);
        if (attrtype == OCI_ATTR_PARAM_COUNT) return put(static_cast<ub4>(stmt->columns.size()));
        break;
      }
      case OCI_DTYPE_PARAM: {
        const ColumnDesc& c = static_cast<Param*>(target)->column;
        switch (attrtype) {
          case OCI_ATTR_DATA_TYPE: return put(c.type);
          case OCI_ATTR_DATA_SIZE: return put(c.type == kTypeDate ? dateDescribeSize() : c.size);
          case OCI_ATTR_PRECISION: return put(c.precision);
          case OCI_ATTR_SCALE: return put(c.scale);
          case OCI_ATTR_IS_NULL: return put(c.nullable);
          case OCI_ATTR_NAME: {
            const std::string& name = static_cast<Param*>(target)->clientName;
            *static_cast<const text**>(attributep) = reinterpret_cast<const text*>(name.c_str());
            if (sizep) *sizep = static_cast<ub4>(name.size());
            return OCI_SUCCESS;
          }
          default: break;
        }
        break;
      }
      case OCI_DTYPE_LOB:
      case OCI_DTYPE_FILE: {
        auto* lob = static_cast<LobLocator*>(target);
        if (attrtype != OCI_ATTR_LOBEMPTY) break;
        return put(static_cast<ub4>(lob->initialized && lob->data.empty() ? 1 : 0));
      }
      default: break;
    }
    throw OraError(kOraBadAttribute);
  });
}
