#pragma once
// Socket and name-lookup failures as the program reports them: a numeric code from the
// classic WinSock table (so that logs and status texts read the same on every system the
// program ever ran on) and its text. Linux errno values and getaddrinfo results are mapped
// onto those codes here, once, and nowhere else.
#include <string>

namespace zev::platform {

enum TSocketErrorCode : int {
  seNone = 0,
  seInterrupted = 10004,
  seAccess = 10013,
  seFault = 10014,
  seInvalid = 10022,
  seTooManyFiles = 10024,
  seWouldBlock = 10035,
  seInProgress = 10036,
  seAlready = 10037,
  seNotSocket = 10038,
  seDestAddrRequired = 10039,
  seMsgSize = 10040,
  seProtoType = 10041,
  seNoProtoOpt = 10042,
  seProtoNotSupported = 10043,
  seSockTypeNotSupported = 10044,
  seOpNotSupported = 10045,
  sePfNotSupported = 10046,
  seAfNotSupported = 10047,
  seAddrInUse = 10048,
  seAddrNotAvail = 10049,
  seNetDown = 10050,
  seNetUnreach = 10051,
  seNetReset = 10052,
  seConnAborted = 10053,
  seConnReset = 10054,
  seNoBufs = 10055,
  seIsConn = 10056,
  seNotConn = 10057,
  seShutdown = 10058,
  seTimedOut = 10060,
  seConnRefused = 10061,
  seHostDown = 10064,
  seHostUnreach = 10065,
  seProcLim = 10067,
  seSysNotReady = 10091,
  seVerNotSupported = 10092,
  seNotInitialised = 10093,
  seDiscon = 10094,
  seHostNotFound = 11001,
  seTryAgain = 11002,
  seNoRecovery = 11003,
  seNoData = 11004,
};

// The code of an errno value; an errno without counterpart keeps its own number (and
// reads as "Unknown WinSock error (n)").
int SocketErrorFromErrno(int err);
// The code of a getaddrinfo result (EAI_SYSTEM uses `err`, the errno at that moment).
int SocketErrorFromLookup(int result, int err);

// The table text, e.g. "WSAECONNREFUSED (Connection refused)".
std::string SocketErrorName(int code);
// The logged and shown form: Error "<table text>" <local date and time>.
std::string WinSockErrorText(int code);

// A connect that failed this way is worth another try after the retry wait, on the next
// address of the server.
bool IsRetryableConnectError(int code);
// A read that failed this way broke a working connection: reconnect.
bool IsBrokenConnectionError(int code);

}  // namespace zev::platform
