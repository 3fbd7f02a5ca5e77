#include "dialog/pictCTRL.h"

// Placeholder until the control is written.
void RegisterPictureControl() {}
void UnregisterPictureControl() {}
