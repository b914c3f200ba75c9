// Tests of the stand-in's handles: types, freeing, and calls on freed or wrong
// handles.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

using namespace ocisim_test;

using HandleTest = OciSimTest;

TEST_F(HandleTest, FreedHandlesAnswerInvalidHandleInsteadOfBeingTouched) {
  Connection c;
  OCIStmt* stmt = nullptr;
  ASSERT_EQ(OCIHandleAlloc(c.env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr),
            OCI_SUCCESS);
  ASSERT_EQ(OCIHandleFree(stmt, OCI_HTYPE_STMT), OCI_SUCCESS);
  EXPECT_EQ(OCIHandleFree(stmt, OCI_HTYPE_STMT), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIStmtPrepare(stmt, c.err, nullptr, 0, OCI_NTV_SYNTAX, OCI_DEFAULT), OCI_INVALID_HANDLE);

  OCIError* err = c.err;
  OCIServer* srv = c.srv;
  c.freeEnvironment();
  EXPECT_EQ(OCIErrorGet(err, 1, nullptr, nullptr, nullptr, 0, OCI_HTYPE_ERROR), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIServerAttach(srv, err, nullptr, 0, OCI_DEFAULT), OCI_INVALID_HANDLE);

  int notAHandle = 42;
  EXPECT_EQ(OCIHandleFree(&notAHandle, OCI_HTYPE_ENV), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIHandleFree(nullptr, OCI_HTYPE_ENV), OCI_INVALID_HANDLE);
}

TEST_F(HandleTest, AHandleOfTheWrongTypeIsRefusedAndTheArgumentNamed) {
  Connection c;
  EXPECT_EQ(OCIServerAttach(reinterpret_cast<OCIServer*>(c.svc), c.err, nullptr, 0, OCI_DEFAULT),
            OCI_INVALID_HANDLE);
  EXPECT_EQ(c.error(), "ORA-21560: argument 1 is null, invalid, or out of range");
  EXPECT_EQ(OCIHandleFree(c.err, OCI_HTYPE_SERVER), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIAttrSet(c.svc, OCI_HTYPE_SVCCTX, c.ses, 0, OCI_ATTR_SERVER, c.err), OCI_INVALID_HANDLE);
}

TEST_F(HandleTest, FreeingTheEnvironmentFreesEveryHandleMadeUnderIt) {
  Connection c;
  OCIStmt* stmt = nullptr;
  OCIRowid* rowid = nullptr;
  OCIHandleAlloc(c.env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr);
  OCIDescriptorAlloc(c.env, reinterpret_cast<void**>(&rowid), OCI_DTYPE_ROWID, 0, nullptr);
  const OCISvcCtx* svc = c.svc;
  const OCISession* ses = c.ses;
  c.freeEnvironment();
  EXPECT_EQ(OCIHandleFree(stmt, OCI_HTYPE_STMT), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIDescriptorFree(rowid, OCI_DTYPE_ROWID), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIHandleFree(const_cast<OCISvcCtx*>(svc), OCI_HTYPE_SVCCTX), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIHandleFree(const_cast<OCISession*>(ses), OCI_HTYPE_SESSION), OCI_INVALID_HANDLE);
}

TEST_F(HandleTest, AttributesAreReadBackExceptThePassword) {
  Connection c;
  c.logon("scott", "tiger");  // fails (not attached) but sets both attributes
  text* name = nullptr;
  ub4 size = 0;
  ASSERT_EQ(OCIAttrGet(c.ses, OCI_HTYPE_SESSION, &name, &size, OCI_ATTR_USERNAME, c.err), OCI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), size), "scott");
  EXPECT_EQ(OCIAttrGet(c.ses, OCI_HTYPE_SESSION, &name, &size, OCI_ATTR_PASSWORD, c.err), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24315: illegal attribute type");

  ASSERT_EQ(OCIAttrSet(c.svc, OCI_HTYPE_SVCCTX, c.srv, 0, OCI_ATTR_SERVER, c.err), OCI_SUCCESS);
  void* server = nullptr;
  ASSERT_EQ(OCIAttrGet(c.svc, OCI_HTYPE_SVCCTX, &server, nullptr, OCI_ATTR_SERVER, c.err), OCI_SUCCESS);
  EXPECT_EQ(server, c.srv);
  // A freed server is no longer named by the service context.
  OCIHandleFree(c.srv, OCI_HTYPE_SERVER);
  OCIAttrGet(c.svc, OCI_HTYPE_SVCCTX, &server, nullptr, OCI_ATTR_SERVER, c.err);
  EXPECT_EQ(server, nullptr);
}

TEST_F(HandleTest, ANameOrPasswordOfUpToFourKilobytesIsTaken) {
  Connection c;
  for (const ub4 attribute : {OCI_ATTR_USERNAME, OCI_ATTR_PASSWORD}) {
    std::string value(4096, 'u');
    EXPECT_EQ(OCIAttrSet(c.ses, OCI_HTYPE_SESSION, value.data(), 4096, attribute, c.err), OCI_SUCCESS) << c.error();
    value += 'u';
    EXPECT_EQ(OCIAttrSet(c.ses, OCI_HTYPE_SESSION, value.data(), 4097, attribute, c.err), OCI_ERROR);
    EXPECT_EQ(c.error(), "ORA-24328: illegal attribute value");
  }
  text* name = nullptr;
  ub4 size = 0;
  ASSERT_EQ(OCIAttrGet(c.ses, OCI_HTYPE_SESSION, &name, &size, OCI_ATTR_USERNAME, c.err), OCI_SUCCESS);
  EXPECT_EQ(size, 4096u);
}

TEST_F(HandleTest, DistributedTransactionCallsAreNotOffered) {
  Connection c;
  c.open();
  EXPECT_EQ(OCITransStart(c.svc, c.err, 60, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-03001: unimplemented feature");
  EXPECT_EQ(OCITransPrepare(c.svc, c.err, OCI_DEFAULT), OCI_ERROR);
}

TEST_F(HandleTest, AStatementTakesItsDefinesAndBindsAlongWhenFreed) {
  Connection c;
  c.open();
  OCIStmt* stmt = nullptr;
  ASSERT_EQ(OCIHandleAlloc(c.env, reinterpret_cast<void**>(&stmt), OCI_HTYPE_STMT, 0, nullptr), OCI_SUCCESS);
  const text sql[] = "select dummy from dual where dummy = :d";
  ASSERT_EQ(OCIStmtPrepare(stmt, c.err, sql, sizeof sql - 1, OCI_NTV_SYNTAX, OCI_DEFAULT), OCI_SUCCESS);
  char buf[8];
  OCIDefine* def = nullptr;
  OCIBind* bind = nullptr;
  ASSERT_EQ(OCIDefineByPos(stmt, &def, c.err, 1, buf, sizeof buf, SQLT_STR, nullptr, nullptr, nullptr,
                           OCI_DEFAULT), OCI_SUCCESS);
  ASSERT_EQ(OCIBindByName(stmt, &bind, c.err, reinterpret_cast<const text*>(":d"), 2, buf, sizeof buf,
                          SQLT_STR, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT), OCI_SUCCESS);
  ASSERT_EQ(OCIHandleFree(stmt, OCI_HTYPE_STMT), OCI_SUCCESS);
  EXPECT_EQ(OCIDefineDynamic(def, c.err, nullptr, nullptr), OCI_INVALID_HANDLE);
  EXPECT_EQ(OCIBindArrayOfStruct(bind, c.err, 8, 2, 0, 0), OCI_INVALID_HANDLE);
}

TEST_F(HandleTest, PositionsAndCountsAreCheckedAtTheirEdges) {
  Connection c;
  c.open();
  Statement s(c);
  ASSERT_EQ(s.run("select dummy, dummy d2 from dual"), OCI_SUCCESS) << c.error();
  // Select-list positions count from 1 to the number of columns.
  void* param = nullptr;
  EXPECT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 0), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24334: no descriptor for this position");
  EXPECT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 2), OCI_SUCCESS);
  EXPECT_EQ(OCIParamGet(s.stmt, OCI_HTYPE_STMT, c.err, &param, 3), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-24334: no descriptor for this position");
  // A define's position counts from 1, up to 1000.
  char buf[4];
  OCIDefine* d = nullptr;
  for (const ub4 position : {0u, 1001u}) {
    EXPECT_EQ(OCIDefineByPos(s.stmt, &d, c.err, position, buf, sizeof buf, SQLT_STR, nullptr, nullptr, nullptr,
                             OCI_DEFAULT),
              OCI_ERROR);
    EXPECT_EQ(c.error(), "ORA-21560: argument 4 is null, invalid, or out of range");
  }
  EXPECT_EQ(OCIDefineByPos(s.stmt, &d, c.err, 1000, buf, sizeof buf, SQLT_STR, nullptr, nullptr, nullptr,
                           OCI_DEFAULT),
            OCI_SUCCESS);
  // Fetching no rows ends the cursor: nothing more comes.
  sb2 ind = 0;
  ASSERT_EQ(OCIDefineByPos(s.stmt, &d, c.err, 1, buf, sizeof buf, SQLT_STR, &ind, nullptr, nullptr, OCI_DEFAULT),
            OCI_SUCCESS);
  EXPECT_EQ(OCIStmtFetch(s.stmt, c.err, 0, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_SUCCESS);
  EXPECT_EQ(OCIStmtFetch(s.stmt, c.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_NO_DATA);
  EXPECT_EQ(s.rowCount(), 0u);
  // A statement that is no query has no rows to fetch.
  ASSERT_EQ(s.run("create table t (a number)"), OCI_SUCCESS);
  EXPECT_EQ(OCIStmtFetch(s.stmt, c.err, 1, OCI_FETCH_NEXT, OCI_DEFAULT), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01002: fetch out of sequence");
}
