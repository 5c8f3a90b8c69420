#pragma once
// Connection state and dial-up. Linux has no dial-up facility of this kind: the machine counts
// as connected and raising a connection does nothing, so failures come from the requests
// themselves. Tests replace the state to reach the offline branches of their callers.
#include <functional>

// Whether the machine has a connection to the network (default: true).
bool InternetGetConnectedState();
// Raises a dial-up connection if one is configured (default: nothing to do, true).
bool InternetAutodial();

// Replaces the connection state; an empty function restores the default.
void SetConnectedStateHook(std::function<bool()> hook);
