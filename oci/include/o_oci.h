// OCI types, handle and attribute constants, status values and entry-point
// signatures, by their published names and values: the one description of the
// API that the data-access library calls and the stand-in client implements.
// Header only: the data-access library never links a client library, it looks
// these entry points up at run time (o_ociap).
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

using ub1 = unsigned char;
using sb1 = signed char;
using ub2 = unsigned short;
using sb2 = short;
using ub4 = unsigned int;
using sb4 = int;
using uword = unsigned int;
using sword = int;
using dvoid = void;
using text = unsigned char;
using OraText = unsigned char;

// Opaque handles and descriptors.
struct OCIEnv;
struct OCIError;
struct OCIServer;
struct OCISvcCtx;
struct OCISession;
struct OCIStmt;
struct OCIDefine;
struct OCIBind;
struct OCIParam;
struct OCISnapshot;
struct OCILobLocator;
struct OCIRowid;

// Status values.
constexpr sword OCI_SUCCESS = 0;
constexpr sword OCI_SUCCESS_WITH_INFO = 1;
constexpr sword OCI_NEED_DATA = 99;
constexpr sword OCI_NO_DATA = 100;
constexpr sword OCI_ERROR = -1;
constexpr sword OCI_INVALID_HANDLE = -2;
constexpr sword OCI_STILL_EXECUTING = -3123;
constexpr sword OCI_CONTINUE = -24200;

// Modes.
constexpr ub4 OCI_DEFAULT = 0x00;
constexpr ub4 OCI_THREADED = 0x01;
constexpr ub4 OCI_OBJECT = 0x02;

// Handle types.
constexpr ub4 OCI_HTYPE_ENV = 1;
constexpr ub4 OCI_HTYPE_ERROR = 2;
constexpr ub4 OCI_HTYPE_SVCCTX = 3;
constexpr ub4 OCI_HTYPE_STMT = 4;
constexpr ub4 OCI_HTYPE_BIND = 5;
constexpr ub4 OCI_HTYPE_DEFINE = 6;
constexpr ub4 OCI_HTYPE_DESCRIBE = 7;
constexpr ub4 OCI_HTYPE_SERVER = 8;
constexpr ub4 OCI_HTYPE_SESSION = 9;
constexpr ub4 OCI_HTYPE_TRANS = 10;

// Descriptor types.
constexpr ub4 OCI_DTYPE_LOB = 50;
constexpr ub4 OCI_DTYPE_SNAP = 51;
constexpr ub4 OCI_DTYPE_RSET = 52;
constexpr ub4 OCI_DTYPE_PARAM = 53;
constexpr ub4 OCI_DTYPE_ROWID = 54;
constexpr ub4 OCI_DTYPE_FILE = 56;

// Handle attributes.
constexpr ub4 OCI_ATTR_SERVER = 6;
constexpr ub4 OCI_ATTR_SESSION = 7;
constexpr ub4 OCI_ATTR_ROW_COUNT = 9;
constexpr ub4 OCI_ATTR_PREFETCH_ROWS = 11;
constexpr ub4 OCI_ATTR_PREFETCH_MEMORY = 13;
constexpr ub4 OCI_ATTR_PARAM_COUNT = 18;
constexpr ub4 OCI_ATTR_ROWID = 19;
constexpr ub4 OCI_ATTR_USERNAME = 22;
constexpr ub4 OCI_ATTR_PASSWORD = 23;
constexpr ub4 OCI_ATTR_STMT_TYPE = 24;
constexpr ub4 OCI_ATTR_LOBEMPTY = 45;
constexpr ub4 OCI_ATTR_PARSE_ERROR_OFFSET = 129;

// Describe (column parameter) attributes.
constexpr ub4 OCI_ATTR_DATA_SIZE = 1;
constexpr ub4 OCI_ATTR_DATA_TYPE = 2;
constexpr ub4 OCI_ATTR_DISP_SIZE = 3;
constexpr ub4 OCI_ATTR_NAME = 4;
constexpr ub4 OCI_ATTR_PRECISION = 5;
constexpr ub4 OCI_ATTR_SCALE = 6;
constexpr ub4 OCI_ATTR_IS_NULL = 7;

// Credentials.
constexpr ub4 OCI_CRED_RDBMS = 1;
constexpr ub4 OCI_CRED_EXT = 2;

// Statement syntax.
constexpr ub4 OCI_NTV_SYNTAX = 1;
constexpr ub4 OCI_V7_SYNTAX = 2;
constexpr ub4 OCI_V8_SYNTAX = 3;

// Execution modes.
constexpr ub4 OCI_BATCH_MODE = 0x01;
constexpr ub4 OCI_EXACT_FETCH = 0x02;
constexpr ub4 OCI_DESCRIBE_ONLY = 0x10;
constexpr ub4 OCI_COMMIT_ON_SUCCESS = 0x20;

// Fetch orientation.
constexpr ub2 OCI_FETCH_NEXT = 0x02;

// Define modes.
constexpr ub4 OCI_DYNAMIC_FETCH = 0x02;

// Pieces of a piecewise fetch.
constexpr ub1 OCI_ONE_PIECE = 0;
constexpr ub1 OCI_FIRST_PIECE = 1;
constexpr ub1 OCI_NEXT_PIECE = 2;
constexpr ub1 OCI_LAST_PIECE = 3;

// Statement types (OCI_ATTR_STMT_TYPE).
constexpr ub2 OCI_STMT_SELECT = 1;
constexpr ub2 OCI_STMT_UPDATE = 2;
constexpr ub2 OCI_STMT_DELETE = 3;
constexpr ub2 OCI_STMT_INSERT = 4;
constexpr ub2 OCI_STMT_CREATE = 5;
constexpr ub2 OCI_STMT_DROP = 6;
constexpr ub2 OCI_STMT_ALTER = 7;
constexpr ub2 OCI_STMT_BEGIN = 8;
constexpr ub2 OCI_STMT_DECLARE = 9;

// Character set forms.
constexpr ub1 SQLCS_IMPLICIT = 1;
constexpr ub1 SQLCS_NCHAR = 2;

// External and internal data types.
constexpr ub2 SQLT_CHR = 1;
constexpr ub2 SQLT_NUM = 2;
constexpr ub2 SQLT_INT = 3;
constexpr ub2 SQLT_FLT = 4;
constexpr ub2 SQLT_STR = 5;
constexpr ub2 SQLT_VNU = 6;
constexpr ub2 SQLT_LNG = 8;
constexpr ub2 SQLT_VCS = 9;
constexpr ub2 SQLT_RID = 11;
constexpr ub2 SQLT_DAT = 12;
constexpr ub2 SQLT_VBI = 15;
constexpr ub2 SQLT_BIN = 23;
constexpr ub2 SQLT_LBI = 24;
constexpr ub2 SQLT_UIN = 68;
constexpr ub2 SQLT_LVC = 94;
constexpr ub2 SQLT_LVB = 95;
constexpr ub2 SQLT_AFC = 96;
constexpr ub2 SQLT_AVC = 97;
constexpr ub2 SQLT_CUR = 102;
constexpr ub2 SQLT_RDD = 104;
constexpr ub2 SQLT_NTY = 108;
constexpr ub2 SQLT_CLOB = 112;
constexpr ub2 SQLT_BLOB = 113;
constexpr ub2 SQLT_BFILEE = 114;
constexpr ub2 SQLT_CFILEE = 115;
constexpr ub2 SQLT_RSET = 116;

// Callbacks.
using OCICallbackDefine = sb4 (*)(dvoid* octxp, OCIDefine* defnp, ub4 iter, dvoid** bufpp,
                                  ub4** alenp, ub1* piecep, dvoid** indp, ub2** rcodep);
using OCICallbackLobRead = sb4 (*)(dvoid* ctxp, const dvoid* bufp, ub4 len, ub1 piece);
using OCICallbackLobWrite = sb4 (*)(dvoid* ctxp, dvoid* bufp, ub4* lenp, ub1* piece);

// Entry-point signatures, one type per published function.
using OCIInitialize_t = sword (*)(ub4 mode, dvoid* ctxp,
                                  dvoid* (*malocfp)(dvoid* ctxp, size_t size),
                                  dvoid* (*ralocfp)(dvoid* ctxp, dvoid* memptr, size_t newsize),
                                  void (*mfreefp)(dvoid* ctxp, dvoid* memptr));
using OCIEnvInit_t = sword (*)(OCIEnv** envp, ub4 mode, size_t xtramem_sz, dvoid** usrmempp);
using OCIHandleAlloc_t = sword (*)(const dvoid* parenth, dvoid** hndlpp, ub4 type,
                                   size_t xtramem_sz, dvoid** usrmempp);
using OCIServerAttach_t = sword (*)(OCIServer* srvhp, OCIError* errhp, const text* dblink,
                                    sb4 dblink_len, ub4 mode);
using OCIAttrSet_t = sword (*)(dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4 size,
                               ub4 attrtype, OCIError* errhp);
using OCISessionBegin_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp,
                                    ub4 credt, ub4 mode);
using OCISessionEnd_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode);
using OCIErrorGet_t = sword (*)(dvoid* hndlp, ub4 recordno, text* sqlstate, sb4* errcodep,
                                text* bufp, ub4 bufsiz, ub4 type);
using OCIStmtPrepare_t = sword (*)(OCIStmt* stmtp, OCIError* errhp, const text* stmt,
                                   ub4 stmt_len, ub4 language, ub4 mode);
using OCIDefineByPos_t = sword (*)(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp,
                                   ub4 position, dvoid* valuep, sb4 value_sz, ub2 dty,
                                   dvoid* indp, ub2* rlenp, ub2* rcodep, ub4 mode);
using OCIStmtExecute_t = sword (*)(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters,
                                   ub4 rowoff, const OCISnapshot* snap_in, OCISnapshot* snap_out,
                                   ub4 mode);
using OCIHandleFree_t = sword (*)(dvoid* hndlp, ub4 type);
using OCIAttrGet_t = sword (*)(const dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep,
                               ub4* sizep, ub4 attrtype, OCIError* errhp);
using OCIParamGet_t = sword (*)(const dvoid* hndlp, ub4 htype, OCIError* errhp, dvoid** parmdpp,
                                ub4 pos);
using OCIStmtFetch_t = sword (*)(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation,
                                 ub4 mode);
using OCIDefineDynamic_t = sword (*)(OCIDefine* defnp, OCIError* errhp, dvoid* octxp,
                                     OCICallbackDefine ocbfp);
using OCIBindByName_t = sword (*)(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp,
                                  const text* placeholder, sb4 placeh_len, dvoid* valuep,
                                  sb4 value_sz, ub2 dty, dvoid* indp, ub2* alenp, ub2* rcodep,
                                  ub4 maxarr_len, ub4* curelep, ub4 mode);
using OCIDescriptorAlloc_t = sword (*)(const dvoid* parenth, dvoid** descpp, ub4 type,
                                       size_t xtramem_sz, dvoid** usrmempp);
using OCIDescriptorFree_t = sword (*)(dvoid* descp, ub4 type);
using OCITransStart_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, uword timeout, ub4 flags);
using OCITransDetach_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
using OCITransCommit_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
using OCITransRollback_t = sword (*)(dvoid* svchp, OCIError* errhp, ub4 flags);
using OCITransPrepare_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
using OCITransForget_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
using OCILobGetLength_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp,
                                    ub4* lenp);
using OCILobRead_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp,
                               ub4 offset, dvoid* bufp, ub4 bufl, dvoid* ctxp,
                               OCICallbackLobRead cbfp, ub2 csid, ub1 csfrm);
using OCILobWrite_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp,
                                ub4* amtp, ub4 offset, dvoid* bufp, ub4 buflen, ub1 piece,
                                dvoid* ctxp, OCICallbackLobWrite cbfp, ub2 csid, ub1 csfrm);
using OCILobTrim_t = sword (*)(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp,
                               ub4 newlen);
using OCIBindArrayOfStruct_t = sword (*)(OCIBind* bindp, OCIError* errhp, ub4 pvskip,
                                         ub4 indskip, ub4 alskip, ub4 rcskip);
// Not one of the thirty: the loader reads the client's version through it.
using OCIClientVersion_t = void (*)(sword* major_version, sword* minor_version, sword* update_num,
                                    sword* patch_num, sword* port_update_num);

}  // extern "C"

// The thirty entry points in lookup order. X(name) for each.
#define O_OCI_ENTRY_POINTS(X) \
  X(OCIInitialize)            \
  X(OCIEnvInit)               \
  X(OCIHandleAlloc)           \
  X(OCIServerAttach)          \
  X(OCIAttrSet)               \
  X(OCISessionBegin)          \
  X(OCISessionEnd)            \
  X(OCIErrorGet)              \
  X(OCIStmtPrepare)           \
  X(OCIDefineByPos)           \
  X(OCIStmtExecute)           \
  X(OCIHandleFree)            \
  X(OCIAttrGet)               \
  X(OCIParamGet)              \
  X(OCIStmtFetch)             \
  X(OCIDefineDynamic)         \
  X(OCIBindByName)            \
  X(OCIDescriptorAlloc)       \
  X(OCIDescriptorFree)        \
  X(OCITransStart)            \
  X(OCITransDetach)           \
  X(OCITransCommit)           \
  X(OCITransRollback)         \
  X(OCITransPrepare)          \
  X(OCITransForget)           \
  X(OCILobGetLength)          \
  X(OCILobRead)               \
  X(OCILobWrite)              \
  X(OCILobTrim)               \
  X(OCIBindArrayOfStruct)
