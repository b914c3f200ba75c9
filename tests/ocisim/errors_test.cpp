// Tests of the stand-in's error records: OCIErrorGet, truncation, and errors
// that stay on their handle.
#include "oci_fixture.h"

#include "ocisim/ocisim_controls.h"

#include <cstring>

using namespace ocisim_test;

using ErrorTest = OciSimTest;

TEST_F(ErrorTest, ErrorTextIsTruncatedToTheBufferAndAlwaysTerminated) {
  Connection c;
  ASSERT_EQ(c.attach("NOSUCH"), OCI_ERROR);
  const std::string full = "ORA-12154: TNS:could not resolve service name";

  text buf[16];
  std::memset(buf, 'x', sizeof buf);
  sb4 code = 0;
  ASSERT_EQ(OCIErrorGet(c.err, 1, nullptr, &code, buf, 10, OCI_HTYPE_ERROR), OCI_SUCCESS);
  EXPECT_EQ(code, 12154);
  EXPECT_STREQ(reinterpret_cast<char*>(buf), full.substr(0, 9).c_str());
  EXPECT_EQ(buf[10], 'x');

  ASSERT_EQ(OCIErrorGet(c.err, 1, nullptr, &code, buf, 1, OCI_HTYPE_ERROR), OCI_SUCCESS);
  EXPECT_EQ(buf[0], '\0');

  std::memset(buf, 'x', sizeof buf);
  ASSERT_EQ(OCIErrorGet(c.err, 1, nullptr, &code, buf, 0, OCI_HTYPE_ERROR), OCI_SUCCESS);
  EXPECT_EQ(buf[0], 'x');
  code = 0;
  ASSERT_EQ(OCIErrorGet(c.err, 1, nullptr, &code, nullptr, 512, OCI_HTYPE_ERROR), OCI_SUCCESS);
  EXPECT_EQ(code, 12154);
  EXPECT_EQ(c.error(), full);
}

TEST_F(ErrorTest, OnlyTheFirstRecordExistsAndOnlyAfterAFailure) {
  Connection c;
  sb4 code = 0;
  text buf[64];
  EXPECT_EQ(OCIErrorGet(c.err, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR), OCI_NO_DATA);
  c.attach("NOSUCH");
  EXPECT_EQ(OCIErrorGet(c.err, 2, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ERROR), OCI_NO_DATA);
  EXPECT_EQ(OCIErrorGet(c.err, 1, nullptr, &code, buf, sizeof buf, OCI_HTYPE_ENV), OCI_INVALID_HANDLE);
}

TEST_F(ErrorTest, AnErrorStaysOnItsHandleAfterLaterSuccessfulCalls) {
  Connection c;
  ASSERT_EQ(c.attach("NOSUCH"), OCI_ERROR);
  ASSERT_EQ(c.attach("DEMO"), OCI_SUCCESS);
  EXPECT_EQ(c.error(), "ORA-12154: TNS:could not resolve service name");
  EXPECT_EQ(c.logon("scott", "wrong"), OCI_ERROR);
  EXPECT_EQ(c.error(), "ORA-01017: invalid username/password; logon denied");
}

TEST_F(ErrorTest, FailuresOfCallsWithoutAnErrorHandleAreReadFromTheEnvironment) {
  ASSERT_EQ(ocisim_fail_next("OCIEnvInit", 1019), 0);
  OCIEnv* env = nullptr;
  ASSERT_EQ(OCIEnvInit(&env, OCI_DEFAULT, 0, nullptr), OCI_ERROR);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(errorText(env, OCI_HTYPE_ENV), "ORA-01019: unable to allocate memory in the user side");

  void* handle = reinterpret_cast<void*>(1);
  EXPECT_EQ(OCIHandleAlloc(env, &handle, OCI_HTYPE_BIND, 0, nullptr), OCI_ERROR);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(errorText(env, OCI_HTYPE_ENV), "ORA-21560: argument 3 is null, invalid, or out of range");
  EXPECT_EQ(OCIHandleFree(env, OCI_HTYPE_ENV), OCI_SUCCESS);
}
