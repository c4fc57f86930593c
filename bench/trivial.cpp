// Yardsticks for a Windows program's start-up under Wine, linked like the
// patch (static runtime, Unicode entry): orv_bench_trivial does nothing;
// orv_bench_box (ORV_BENCH_BOX) readies the common controls and shows one
// message box as the patch does, and nothing else.
#include <windows.h>

#ifdef ORV_BENCH_BOX
#include <commctrl.h>
#endif

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
#ifdef ORV_BENCH_BOX
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);
  MessageBoxW(nullptr, L"There is no need to apply this patch.", L"Patch for Orvanto",
              MB_OK | MB_ICONINFORMATION);
#endif
  return 0;
}
