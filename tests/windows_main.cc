// Test entry point of the Windows build.
//
// The library initialises neither Windows Sockets nor COM, so the test
// program does what every host must do before the first command. COM is
// joined multithreaded: the library's receive threads, which load answer
// documents into the DOM and never call CoInitializeEx themselves, then
// belong to the process's multithreaded apartment.
// winsock2.h has to come before anything that pulls in windows.h.
// clang-format off
#include <winsock2.h>
#include <objbase.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
  WSADATA wsa;
  const int wsa_status = WSAStartup(MAKEWORD(2, 2), &wsa);
  if (wsa_status != 0) {
    std::fprintf(stderr, "WSAStartup failed: %d\n", wsa_status);
    return 1;
  }
  const HRESULT com_status = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(com_status)) {
    std::fprintf(stderr, "CoInitializeEx failed: 0x%08lx\n",
                 static_cast<unsigned long>(com_status));
    WSACleanup();
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  CoUninitialize();
  WSACleanup();
  return result;
}
