// The one application object, constructed before the entry point runs.
#include "app/updater_app.h"

CUpdaterApp theApp;
