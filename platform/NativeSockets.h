// Internal to the socket library: the system's socket headers, with the values of their macros
// captured under other names and the macros removed, so that the Winsock names of
// platform/WinSock.h can be used in the same file. Include it before anything else.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace native {
constexpr int kAfInet = AF_INET;
constexpr int kSockStream = SOCK_STREAM;
constexpr int kSockDgram = SOCK_DGRAM;
constexpr int kSolSocket = SOL_SOCKET;
constexpr int kSoReuseAddr = SO_REUSEADDR;
constexpr int kSoKeepAlive = SO_KEEPALIVE;
constexpr int kSoLinger = SO_LINGER;
constexpr int kSoSndBuf = SO_SNDBUF;
constexpr int kSoRcvBuf = SO_RCVBUF;
constexpr int kSoError = SO_ERROR;
constexpr int kSoAcceptConn = SO_ACCEPTCONN;
constexpr int kIpProtoTcp = IPPROTO_TCP;
constexpr int kTcpNoDelay = TCP_NODELAY;
constexpr unsigned long kFionRead = FIONREAD;
constexpr int kMsgOob = MSG_OOB;
constexpr int kMsgPeek = MSG_PEEK;
}  // namespace native

#undef AF_INET
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOL_SOCKET
#undef SO_REUSEADDR
#undef SO_KEEPALIVE
#undef SO_LINGER
#undef SO_SNDBUF
#undef SO_RCVBUF
#undef SO_ERROR
#undef SO_ACCEPTCONN
#undef IPPROTO_TCP
#undef TCP_NODELAY
#undef FIONBIO
#undef FIONREAD

#undef INADDR_ANY
#undef INADDR_NONE
#undef MSG_OOB
#undef MSG_PEEK
// Optimised builds define the byte-order conversions as macros; the library's own functions of
// those names must not be rewritten by them.
#undef htonl
#undef htons
#undef ntohl
#undef ntohs
