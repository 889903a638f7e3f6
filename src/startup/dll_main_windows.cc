// Entry point of voicecontrol.dll.
//
// The library keeps no process-wide state that needs setting up or tearing
// down: the controller objects belong to the host, and Windows Sockets and
// COM are the host's to initialise. Process attach and detach therefore only
// succeed; thread attach and detach (the receive threads come and go with
// every request) have nothing to do either.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) {
  return TRUE;
}
