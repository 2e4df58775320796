#pragma once

#include <string>

#include "common/path_rules.h"

// The folder of the running executable ("." when it cannot be told).
// Any thread.
std::wstring GetExecutableDirectory();

// Full path of the running executable as the system reports it.
std::wstring GetExecutablePath();
