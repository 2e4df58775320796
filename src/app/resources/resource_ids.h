#ifndef TONEFORK_RESOURCE_IDS_H
#define TONEFORK_RESOURCE_IDS_H

// Shared by tonefork.rc and any C++ that wants the raw resource number; the
// window class loads the icon by this id at the system's default sizes.
#define IDI_APP_ICON 101

#endif
