#include "settings/settings_store.h"

#include "app/app_state.h"

void SaveSettings(AppState&) {}

void LoadSettings(AppState&) {}
