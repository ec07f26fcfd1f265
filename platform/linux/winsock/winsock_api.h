// Stand-in for Winsock: the socket calls are the system's own (platform/sockets.h),
// so only the start-up count Windows keeps and SOCKET remain. Left out on
// purpose: the WSA extensions and completion ports (Boost.Asio uses epoll here).
#pragma once

#include "platform/linux/win32_types.h"

#ifndef MAKEWORD
#define MAKEWORD(low, high) \
  (static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))
#endif

// A socket is a descriptor here.
typedef int SOCKET;

#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L

struct WSADATA {
  WORD wVersion;
  WORD wHighVersion;
};
typedef WSADATA* LPWSADATA;

// Succeeds (0) for any version 2.x request and counts one start-up; otherwise
// returns WSAVERNOTSUPPORTED.
int WSAStartup(WORD version_requested, LPWSADATA data);
// Drops one start-up; without one it fails (SOCKET_ERROR, WSANOTINITIALISED).
int WSACleanup();
int WSAGetLastError();
