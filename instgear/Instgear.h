/* The exported functions of libInstgear.so, the helper an installer calls: is the DirectX runtime
 * new enough for the playback engine, close a top-level window by its title, is Acrobat Reader
 * installed. Callers bind the names with dlsym, so only C types cross this boundary.
 *
 * The Windows installation examined is a Wine prefix: $WINEPREFIX, or ~/.wine when it is not set.
 * Its system directory is drive_c/windows/system32 and its machine registry the file system.reg.
 * Windows are X11 top-level windows on $DISPLAY; a title is their _NET_WM_NAME, else WM_NAME. */
#ifndef INSTGEAR_INSTGEAR_H
#define INSTGEAR_INSTGEAR_H

#include <stdint.h>

#ifdef __cplusplus
#define INSTGEAR_API extern "C" __attribute__((visibility("default")))
#else
#define INSTGEAR_API __attribute__((visibility("default")))
#endif

/* Windows BOOL: 32-bit signed, 0 false, 1 true. */
typedef int32_t BOOL;

/* TRUE when the DirectX version of the prefix is 9.0 or newer. Writes "DirectX Version=0x%08x\n"
 * (major << 16 | minor << 8 | letter) to the debugger output, standard error while VANTREL_DEBUG
 * is set. The argument is not used. */
INSTGEAR_API BOOL GetVmrVer(int32_t unused);

/* TRUE when a top-level window titled exactly `title` was found and asked to close (a
 * WM_DELETE_WINDOW message). FALSE without a display, without such a window, or when the window
 * found does not take WM_DELETE_WINDOW; then nothing is sent. The request is not waited on: the
 * window may still ask its user before it closes. */
INSTGEAR_API BOOL KillApp(const char* title);

/* The same for the title "host": 1 when the close request went out, 0 otherwise. */
INSTGEAR_API int32_t KillHost(void);

/* TRUE when the machine key "SOFTWARE\Adobe\Acrobat Reader" exists (also its 32-bit view under
 * Wow6432Node, where a 32-bit Reader installer writes it in a 64-bit prefix). */
INSTGEAR_API BOOL ARInstalled(void);

typedef BOOL (*PFN_GetVmrVer)(int32_t);
typedef BOOL (*PFN_KillApp)(const char*);
typedef int32_t (*PFN_KillHost)(void);
typedef BOOL (*PFN_ARInstalled)(void);

#endif
