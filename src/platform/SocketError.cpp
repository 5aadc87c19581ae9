#include "platform/SocketError.h"

#include <netdb.h>

#include <cerrno>
#include <ctime>
#include <unordered_map>

namespace zev::platform {
namespace {

struct FCodeText {
  int code;
  const char* text;
};

constexpr FCodeText kTexts[] = {
    {10004, "WSAEINTR (Interrupted function call)"},
    {10013, "WSAEACCES (Permission denied)"},
    {10014, "WSAEFAULT (Bad address)"},
    {10022, "WSAEINVAL (Invalid argument)"},
    {10024, "WSAEMFILE (Too many open files)"},
    {10035, "WSAEWOULDBLOCK (Resource temporarily unavailable)"},
    {10036, "WSAEINPROGRESS (Operation now in progress)"},
    {10037, "WSAEALREADY (Operation already in progress)"},
    {10038, "WSAENOTSOCK (Socket operation on non-socket)"},
    {10039, "WSAEDESTADDRREQ (Destination address required)"},
    {10040, "WSAEMSGSIZE (Message too long)"},
    {10041, "WSAEPROTOTYPE (Protocol wrong type for socket)"},
    {10042, "WSAENOPROTOOPT (Bad protocol option)"},
    {10043, "WSAEPROTONOSUPPORT (Protocol not supported)"},
    {10044, "WSAESOCKTNOSUPPORT (Socket type not supported)"},
    {10045, "WSAEOPNOTSUPP (Operation not supported)"},
    {10046, "WSAEPFNOSUPPORT (Protocol family not supported)"},
    {10047, "WSAEAFNOSUPPORT (Address family not supported by protocol family)"},
    {10048, "WSAEADDRINUSE (Address already in use)"},
    {10049, "WSAEADDRNOTAVAIL (Cannot assign requested address)"},
    {10050, "WSAENETDOWN (Network is down)"},
    {10051, "WSAENETUNREACH (Network is unreachable)"},
    {10052, "WSAENETRESET (Network dropped connection on reset)"},
    {10053, "WSAECONNABORTED (Software caused connection abort)"},
    {10054, "WSAECONNRESET (Connection reset by peer)"},
    {10055, "WSAENOBUFS (No buffer space available)"},
    {10056, "WSAEISCONN (Socket is already connected)"},
    {10057, "WSAENOTCONN (Socket is not connected)"},
    {10058, "WSAESHUTDOWN (Cannot send after socket shutdown)"},
    {10060, "WSAETIMEDOUT (Connection timed out)"},
    {10061, "WSAECONNREFUSED (Connection refused)"},
    {10064, "WSAEHOSTDOWN (Host is down)"},
    {10065, "WSAEHOSTUNREACH (No route to host)"},
    {10067, "WSAEPROCLIM (Too many processes)"},
    {10091, "WSASYSNOTREADY (Network subsystem is unavailable)"},
    {10092, "WSAVERNOTSUPPORTED (WINSOCK.DLL version out of range)"},
    {10093, "WSANOTINITIALISED (Successful WSAStartup not yet performed)"},
    {10094, "WSAEDISCON (Graceful shutdown in progress)"},
    {11001, "WSAHOST_NOT_FOUND (Host not found)"},
    {11002, "WSATRY_AGAIN (Non-authoritative host not found)"},
    {11003, "WSANO_RECOVERY (This is a non-recoverable error)"},
    {11004, "WSANO_DATA (Valid name, but no data record of requested type)"},
};

const std::unordered_map<int, int>& ErrnoTable() {
  static const std::unordered_map<int, int> table = {
      {EINTR, seInterrupted},
      {EACCES, seAccess},
      {EPERM, seAccess},
      {EFAULT, seFault},
      {EINVAL, seInvalid},
      {EMFILE, seTooManyFiles},
      {ENFILE, seTooManyFiles},
      {EAGAIN, seWouldBlock},
      {EINPROGRESS, seInProgress},
      {EALREADY, seAlready},
      {ENOTSOCK, seNotSocket},
      {EBADF, seNotSocket},
      {EDESTADDRREQ, seDestAddrRequired},
      {EMSGSIZE, seMsgSize},
      {EPROTOTYPE, seProtoType},
      {ENOPROTOOPT, seNoProtoOpt},
      {EPROTONOSUPPORT, seProtoNotSupported},
      {ESOCKTNOSUPPORT, seSockTypeNotSupported},
      {EOPNOTSUPP, seOpNotSupported},
      {EPFNOSUPPORT, sePfNotSupported},
      {EAFNOSUPPORT, seAfNotSupported},
      {EADDRINUSE, seAddrInUse},
      {EADDRNOTAVAIL, seAddrNotAvail},
      {ENETDOWN, seNetDown},
      {ENETUNREACH, seNetUnreach},
      {ENETRESET, seNetReset},
      {ECONNABORTED, seConnAborted},
      // A write to a connection the peer already closed: the connection is gone, as after
      // a reset.
      {EPIPE, seConnReset},
      {ECONNRESET, seConnReset},
      {ENOBUFS, seNoBufs},
      {ENOMEM, seNoBufs},
      {EISCONN, seIsConn},
      {ENOTCONN, seNotConn},
      {ESHUTDOWN, seShutdown},
      {ETIMEDOUT, seTimedOut},
      {ECONNREFUSED, seConnRefused},
      {EHOSTDOWN, seHostDown},
      {EHOSTUNREACH, seHostUnreach},
  };
  return table;
}

}  // namespace

int SocketErrorFromErrno(int err) {
  const auto& table = ErrnoTable();
  auto it = table.find(err);
  return it != table.end() ? it->second : err;
}

int SocketErrorFromLookup(int result, int err) {
  switch (result) {
    case 0: return seNone;
    case EAI_NONAME: return seHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return seNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return seNoData;
#endif
    case EAI_AGAIN: return seTryAgain;
    case EAI_FAIL: return seNoRecovery;
    case EAI_MEMORY: return seNoBufs;
    case EAI_FAMILY: return seAfNotSupported;
    case EAI_SOCKTYPE: return seSockTypeNotSupported;
    case EAI_SERVICE: return seInvalid;
    case EAI_SYSTEM: return SocketErrorFromErrno(err);
    default: return seNoRecovery;
  }
}

std::string SocketErrorName(int code) {
  for (const FCodeText& entry : kTexts)
    if (entry.code == code) return entry.text;
  return "Unknown WinSock error (" + std::to_string(code) + ")";
}

std::string WinSockErrorText(int code) {
  char when[32] = "";
  const time_t now = time(nullptr);
  tm local{};
  if (localtime_r(&now, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  return "Error \"" + SocketErrorName(code) + "\" " + when;
}

bool IsRetryableConnectError(int code) {
  switch (code) {
    case seConnAborted:
    case seConnReset:
    case seNoBufs:
    case seTimedOut:
    case seConnRefused:
    case seHostDown:
    case seHostUnreach:
    case seProcLim:
      return true;
    default:
      return false;
  }
}

bool IsBrokenConnectionError(int code) { return code == seConnAborted || code == seConnReset || code == seNoBufs; }

}  // namespace zev::platform
