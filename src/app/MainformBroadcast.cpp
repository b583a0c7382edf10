// Worker runs, broadcast start and stop, stream distribution, remote control.
#include "app/TMainform.h"

void TMainform::buildBroadcast() {}
