/* Sockets: TCP streams over the IP driver the library loaded at start-up
 * (IPv6 when the host has it, else IPv4), which never shows the IP version
 * to the caller.  A listener on loopback, a client, and one line echoed.
 * In the build tree the driver modules are found through VTHOME (point it
 * at build/stage); an installed library finds its own. */
#include <stdio.h>
#include <string.h>
#include <vantrel.h>

int main(void) {
  static const char line[] = "ping\n";
  char echoed[sizeof line] = "", peer[VSOCKET_IPADDR_ADDRESS_SIZE] = "";
  VSocket listener = VSOCKET_INVALID, client = VSOCKET_INVALID,
          server = VSOCKET_INVALID;
  VSocketIPAddrHdl address = NULL;
  const char *host;
  uint16_t port = 0;
  VRC rc;
  if (VInitialise("sockets", "stderr") != 0) return 1;
  printf("driver: %s\n", VSocketIPDriverGetName());
  host = strstr(VSocketIPDriverGetName(), "IPv6") != NULL ? "::1" : "127.0.0.1";

  /* The system picks the port; connect, then accept the connection. */
  rc = VSocketListenAnyPort(host, &port, &listener);
  if (rc == 0) rc = VSocketConnectWithTimeout(host, port, 5, &client);
  if (rc == 0) rc = VSocketAccept(listener, &server);
  if (rc == 0 && VSocketIPAddrGetPeerName(server, &address) == 0) {
    VSocketIPAddrGetAddress(address, peer);
    VSocketIPAddrHdlDestroy(address);
  }

  /* Sends and receives move whole buffers; a wait has a limit in ms. */
  if (rc == 0) rc = VSocketSend(client, line, (int32_t)strlen(line));
  if (rc == 0) rc = VSocketWait(server, 1000);
  if (rc == 0) rc = VSocketRecv(server, echoed, (int32_t)strlen(line));
  if (rc == 0) rc = VSocketSend(server, echoed, (int32_t)strlen(echoed));
  if (rc == 0) rc = VSocketRecv(client, echoed, (int32_t)strlen(line));
  if (rc != 0) printf("failed: %d %s\n", rc, VRCToString(rc));
  printf("port %u, peer %s, echoed %s", port, peer, echoed);

  VSocketClose(server);
  VSocketClose(client);
  VSocketClose(listener);
  return rc == 0 && strcmp(echoed, line) == 0 ? 0 : 1;
}
