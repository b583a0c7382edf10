// Listener service: sessions and limits, the handshake, info updates and the client list.
#include "app/TMainform.h"

void TMainform::buildListenerService() {}
