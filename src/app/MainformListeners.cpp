// Listener service: sessions and limits, the handshake, info updates and the client list.
#include "app/TMainform.h"

void TMainform::buildListenerService() {}

// Provisional until the listener server joins the window: no listener can be admitted yet.
int TMainform::GetUseranzahl() {
    return 0;
}
