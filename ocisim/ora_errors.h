// Oracle error codes, their message texts as the server words them, and the
// OraError the stand-in raises with them.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace ocisim {

// Codes used by the stand-in client.
enum OraCode : int {
  kOraMaxSessions = 18,
  kOraSessionKilled = 28,
  kOraInternal = 600,
  kOraNullPassword = 1005,
  kOraNotLoggedOn = 1012,
  kOraInvalidLogon = 1017,
  kOraNoMemory = 1019,
  kOraNotAvailable = 1034,
  kOraUnimplemented = 3001,
  kOraSidUnknown = 12505,
  kOraTnsUnresolved = 12154,
  kOraBadArgument = 21560,
  kOraAlreadyAttached = 24309,
  kOraAlreadyAuthenticated = 24313,
  kOraBadAttribute = 24315,
  kOraBadAttributeValue = 24328,
  kOraNeedAttach = 24327,
  kOraSvcNotInitialized = 24324,
  kOraStmtNotPrepared = 24337,
  kOraStmtNotExecuted = 24338,
  kOraInvalidPosition = 24334,
  kOraBadDataType = 3115,
  kOraBadBindName = 1036,
  kOraLobTooLarge = 22925,
  kOraNlsData = 12705,
};

// "ORA-nnnnn: text" for a code; "%s" in the text is replaced by arg. Codes
// without a known text get the server's own wording for a missing message.
std::string oraMessage(int code, std::string_view arg = {});

// An Oracle error raised inside the stand-in client; entry points turn it into
// OCI_ERROR and the "ORA-nnnnn: text" of the error handle.
struct OraError : std::exception {
  OraError(int code, std::string arg = {}) : code(code), arg(std::move(arg)) {}
  const char* what() const noexcept override { return "Oracle error"; }
  int code;
  std::string arg;  // fills the "%s" of texts that have one
  long offset = -1; // byte offset in the statement text for errors found in SQL
  // Further lines of the message, as a server stacks them under its error: what
  // exactly went wrong (a file and the system's reason). Empty for most errors.
  std::string detail;
};

// ORA-01034 with a line that says why the instance cannot be reached.
inline OraError notAvailable(std::string detail) {
  OraError e(kOraNotAvailable);
  e.detail = std::move(detail);
  return e;
}

// An Oracle error found at a place of a statement's text.
inline OraError errorAt(int code, size_t offset, std::string arg = {}) {
  OraError e(code, std::move(arg));
  e.offset = static_cast<long>(offset);
  return e;
}

}  // namespace ocisim
