// The title image loaded from insttscr.rct through the data-file opener, decoded straight
// into the pixel memory of a new Surface.
#ifndef UPDATER_UI_RCT_IMAGE_H
#define UPDATER_UI_RCT_IMAGE_H

#include "ui/surface.h"

// Decodes an RCT file into a new Surface. A scrambled payload without its trailer gives a black
// surface of the header's size. NULL when the magic is none of the four, the payload size is 0,
// the size is not supported, or the file stays shorter than its header says after a few tries.
// A damaged pixel stream yields the part decoded before the damage, the rest black.
Surface* LoadRctImage(const char* name);

#endif
