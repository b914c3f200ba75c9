// Oracle error codes and their message texts, as the server words them.
#pragma once

#include <string>
#include <string_view>

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

}  // namespace ocisim
