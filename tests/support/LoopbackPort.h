// Listening ports for tests that start servers, safe while many test programs run at once.
#pragma once

// A TCP port nobody listens on, taken below the system's range of ephemeral ports, so the outgoing
// connections of other tests never land on it. Each port is handed out once per machine while
// this process lives: a lock on its byte of a shared file keeps other test programs off it.
int FreeLoopbackPort();
