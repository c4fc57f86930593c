#include "platform/application.h"

#include <utility>

namespace orv {

namespace {
CWinApp* g_currentApp = nullptr;
}

CWinApp::CWinApp(const char16_t* /*appName*/) {
  g_currentApp = this;
}

CWinApp::~CWinApp() {
  if (g_currentApp == this) g_currentApp = nullptr;
}

bool CWinApp::StartInstance() {
  return true;
}

int CWinApp::EndInstance() {
  return exitCode_;
}

CWinApp* CWinApp::Current() {
  return g_currentApp;
}

int RunApplication(std::vector<String> arguments) {
  CWinApp* app = CWinApp::Current();
  if (app == nullptr) return 1;
  app->SetArguments(std::move(arguments));
  // This program never runs a message loop: a false start hook goes straight
  // to the exit hook, and so does a true one.
  app->StartInstance();
  return app->EndInstance();
}

}  // namespace orv
