/* Entry point that Tcl's `load` finds in morvakine.so. */
#ifndef MORVAKINE_PLUGIN_H
#define MORVAKINE_PLUGIN_H

#include <tcl.h>

#if defined(__GNUC__)
#define MORVAKINE_EXPORT __attribute__((visibility("default")))
#else
#define MORVAKINE_EXPORT
#endif

extern "C" MORVAKINE_EXPORT int Morvakine_Init(Tcl_Interp *interp);

#endif
