#pragma once

// Hardware addresses of the machine's network adapters. Windows asks NetBIOS
// (adapter_address_win.cpp, linked with netapi32); elsewhere the network
// interfaces are read (adapter_address_posix.cpp). Standard library only, so the
// Windows file needs nothing but the Windows API.

#include <array>
#include <functional>
#include <vector>

namespace AdapterAddress {

using Address = std::array<unsigned char, 6>;

// Asks one adapter for its address: true with `address` filled when the adapter
// answers, false (and `address` unspecified) when it does not.
using StatusRequest = std::function<bool(Address& address)>;

// One request per adapter, in the system's order. Windows: the NetBIOS LAN
// adapters, each request resetting its adapter before asking; an enumeration that
// fails gives none. Elsewhere: the network interfaces with a six-byte hardware
// address, loopback interfaces and all-zero addresses left out.
std::vector<StatusRequest> statusRequests();

}  // namespace AdapterAddress
