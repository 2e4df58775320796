# Source lists shared by every preset.
#
# TONEFORK_RULE_SOURCES: platform-free rules (no Windows header). Built by the
#   native preset (unit tests under ASan/UBSan) and by the mingw/msvc presets.
# TONEFORK_WIN_SOURCES: Windows glue linked into Tonefork.exe and the Windows
#   test executable (everything except the entry point).
# TONEFORK_APP_MAIN: the entry point, only in Tonefork.exe.

set(TONEFORK_RULE_SOURCES
)

set(TONEFORK_WIN_SOURCES
)

set(TONEFORK_APP_MAIN
    src/app/main.cpp
)
