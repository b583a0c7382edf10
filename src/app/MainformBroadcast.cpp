// Worker runs, broadcast start and stop, stream distribution, remote control.
#include "app/TMainform.h"

void TMainform::buildBroadcast() {}

// Provisional until capture, codec stream and listener port join the window.
void TMainform::ConnectrbtnClick(QObject* /*Sender*/) {}
void TMainform::DisconnectrbtnClick(QObject* /*Sender*/) {}
