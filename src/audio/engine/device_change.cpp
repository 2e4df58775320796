#include "audio/engine/device_change.h"

#include "app/app_state.h"

void HandleDeviceChange(AppState&) {}
