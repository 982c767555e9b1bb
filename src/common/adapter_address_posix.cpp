#include "adapter_address.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace AdapterAddress {

// Linux lists every interface once as a packet-family address carrying its
// hardware address, in the kernel's interface order.
std::vector<StatusRequest> statusRequests() {
    std::vector<StatusRequest> requests;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return requests;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        Address address{};
        if (link->sll_halen != address.size()) continue;
        std::memcpy(address.data(), link->sll_addr, address.size());
        if (std::all_of(address.begin(), address.end(), [](unsigned char b) { return b == 0; })) {
            continue;
        }
        requests.push_back([address](Address& answer) {
            answer = address;
            return true;
        });
    }
    freeifaddrs(interfaces);
    return requests;
}

}  // namespace AdapterAddress
