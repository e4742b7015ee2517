#pragma once

#include <QtGlobal>

#if defined(SERVLANE_BUILDING_LIBRARY)
#define SERVLANE_EXPORT Q_DECL_EXPORT
#else
#define SERVLANE_EXPORT Q_DECL_IMPORT
#endif
