#pragma once
// The Windows sockets layer, started once for version 2.2 at the first use and left started until the
// program ends. Windows only.

#include <winsock2.h>
#include <ws2tcpip.h>

// Starts the sockets layer once; later calls do nothing. Safe from any thread.
void startWinsock();
