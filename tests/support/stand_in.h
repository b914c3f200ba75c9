// The stand-in client's test controls, reached through the loaded client
// library exactly as a test tool would reach a real client's extensions.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "oralib/o_class.h"
#include "oralib/o_ociap.h"

namespace stand_in {

template <class Fn>
Fn Control(const char* name) {
  LoadClientLibrary();
  return reinterpret_cast<Fn>(ClientLibrarySymbol(name));
}

// Makes the next call of `entryPoint` fail with ORA-<code>.
inline void FailNext(const char* entryPoint, int oraCode) {
  Control<int (*)(const char*, int)>("ocisim_fail_next")(entryPoint, oraCode);
}

// Makes the next call of `entryPoint` return `status` and do nothing else.
inline void StatusNext(const char* entryPoint, int status) {
  Control<int (*)(const char*, int)>("ocisim_status_next")(entryPoint, status);
}

inline long CallCount(const char* entryPoint) {
  return Control<long (*)(const char*)>("ocisim_call_count")(entryPoint);
}

inline void ResetCounts() { Control<void (*)()>("ocisim_reset_counts")(); }

// While it lives, describes report a NUMBER without precision (a plain NUMBER
// column, a numeric expression) with scale -127, as current servers do,
// instead of scale 0 as older ones do.
class CurrentNumberDescribe {
 public:
  CurrentNumberDescribe() : previous_(Set(1)) {}
  ~CurrentNumberDescribe() { Set(previous_); }
  CurrentNumberDescribe(const CurrentNumberDescribe&) = delete;
  CurrentNumberDescribe& operator=(const CurrentNumberDescribe&) = delete;

 private:
  static int Set(int style) { return Control<int (*)(int)>("ocisim_set_number_describe")(style); }
  int previous_;
};

// While it lives, describes report a DATE column with `size` bytes instead of 7.
class DateDescribeSize {
 public:
  explicit DateDescribeSize(int size) : previous_(Set(size)) {}
  ~DateDescribeSize() { Set(previous_); }
  DateDescribeSize(const DateDescribeSize&) = delete;
  DateDescribeSize& operator=(const DateDescribeSize&) = delete;

 private:
  static int Set(int size) { return Control<int (*)(int)>("ocisim_set_date_describe_size")(size); }
  int previous_;
};

// Makes the next OCILobGetLength report `length`.
inline void LobLengthNext(unsigned int length) {
  Control<void (*)(unsigned int)>("ocisim_lob_length_next")(length);
}

// Gives the process an instance of its own, in a folder that lives as long as
// the returned object (set before the first attach).
class PrivateInstance {
 public:
  PrivateInstance() { qputenv("OCISIM_ORADATA", dir_.path().toLocal8Bit()); }
  QString Path() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
};

// A session logged on with stored credentials, without the login dialog.
inline std::unique_ptr<TOSession> LoggedOn(const QString& user, const QString& password) {
  auto session = std::make_unique<TOSession>();
  session->UserInfo().Username = user;
  session->UserInfo().Password = password;
  session->UserInfo().ShowLogin = false;
  session->Connect();
  return session;
}

}  // namespace stand_in
