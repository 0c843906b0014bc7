// Session identifiers of the module databases, and the process-wide values
// that say which database a new module connects to.
//
// An identifier is the load time as "hhnnss" followed by a counter as eight
// lower-case hexadecimal digits; the counter starts at 100, so the first
// module of a run started at 11:35:02 gets 11350200000065. Identifiers are
// unique within one run; two runs started in the same second repeat them.
#ifndef HISTDATA_DATA_SESSION_ID_H_
#define HISTDATA_DATA_SESSION_ID_H_

#include <string>

namespace hist {

// Makes the session lock, sets the counter to 100 and the time prefix to the
// current local time as "hhnnss". Called once at load, before any module is
// made.
void InitialSessionID();

// Advances the counter under the session lock and sets SessionID to the
// prefix followed by the counter formatted "%8.8x".
void GenNextSessionID(std::string& SessionID);

// The module database's source (alias), user and password, as the last
// DBInitConfig read them. Each is replaced as a whole; readers get a copy.
struct DSNValues {
  std::string source = "zetdata";
  std::string user;
  std::string password;
};
DSNValues CurrentDSN();
void SetDSN(DSNValues values);

}  // namespace hist

#endif  // HISTDATA_DATA_SESSION_ID_H_
