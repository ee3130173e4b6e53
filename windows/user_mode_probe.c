/* A user-mode DLL with a C runtime: what the driver image check must refuse. */
#include <stdio.h>

__declspec(dllexport) int DriverEntry(void) { return puts("user mode"); }
