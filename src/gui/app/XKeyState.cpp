#include "XKeyState.h"

#include <wx/utils.h>

#include <X11/Xlib.h>

bool IsHardwareKeyPressed(unsigned hardwareCode)
{
    const wxDisplayInfo info = wxGetDisplayInfo();
    if (info.type != wxDisplayX11 || !info.dpy || hardwareCode > 255)
        return true;
    char keys[32];
    XQueryKeymap(static_cast<Display*>(info.dpy), keys);
    return (keys[hardwareCode / 8] >> (hardwareCode % 8)) & 1;
}
