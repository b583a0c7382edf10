// Directory registration, status and listener-count reports, the statistics graph.
#include "app/TMainform.h"

void TMainform::buildDirectory() {}
