// The Windows program's entry: the common controls are made ready for the
// message box, the command line is split as Windows splits it, and the
// application object does the rest; its exit hook's result is the exit code.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "platform/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);

  std::vector<orv::String> arguments;
  int count = 0;
  if (wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) {
      arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    LocalFree(argv);
  }
  return orv::RunApplication(std::move(arguments));
}
