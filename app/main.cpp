// The one application object, constructed before the entry code runs; the
// entry code (platform/*/entry.cpp) starts it.
#include "app/update_app.h"

namespace {
orv::COrvantoUpdateApp theApp(orv::SystemPlatform());
}
