/* Numbers and names of the resources the program carries; included by velmora.rc and by C++. */
#ifndef VELMORA_RESOURCE_IDS_H
#define VELMORA_RESOURCE_IDS_H

/* The empty dialog template the main window is created from. */
#define IDD_MAIN 9

/* The embedded TrueType font, registered in memory at start-up. */
#define IDR_FONT 101

/* The executable's file icon (group icon; its one image is RT_ICON 1). */
#define IDI_APP 103

/* Type name of the font resource. The resource compiler wants the type as a bare word, so
   velmora.rc spells it MY_FONT itself; C++ passes this string to FindResourceA. */
#define IDR_FONT_TYPE "MY_FONT"

#endif
