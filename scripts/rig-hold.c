/* Holds the rig's Wine desktop open for the life of the rig.

   Wine closes a desktop, and the explorer process that draws it with its
   taskbar, as soon as no program uses it, and starts it again for the next
   program. A program that starts while the old one is closing cannot make a
   window. Windows keeps its desktop for the whole session; so does the rig,
   with this program attached to the desktop and doing nothing else. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR cmdLine, int show)
{
    (void)instance; (void)previous; (void)cmdLine; (void)show;
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
