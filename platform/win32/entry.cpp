// The Windows program's entry: the common controls are made ready for the
// message box, arguments are ignored, and the application object does the
// rest; its exit hook's result is the exit code.
#include <windows.h>

#include <commctrl.h>

#include "platform/application.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
  return orv::RunApplication();
}
