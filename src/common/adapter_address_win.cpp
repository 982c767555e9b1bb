#include "adapter_address.h"

// clang-format off
#include <windows.h>
#include <nb30.h>
// clang-format on

#include <cstring>

namespace AdapterAddress {

namespace {

// NetBIOS appends the adapter's name table to its status record: 60 bytes of
// status and up to 30 names of 18 bytes.
struct AdapterStatusBuffer {
    ADAPTER_STATUS status;
    NAME_BUFFER names[30];
};
static_assert(sizeof(AdapterStatusBuffer) == 600, "status buffer must hold 600 bytes");
static_assert(sizeof(LANA_ENUM) == 256, "adapter list must hold 256 bytes");

bool askAdapter(UCHAR lana, Address& address) {
    NCB reset;
    std::memset(&reset, 0, sizeof(reset));
    reset.ncb_command = NCBRESET;
    reset.ncb_lana_num = lana;
    // A reset that fails shows in the status request that follows.
    Netbios(&reset);

    AdapterStatusBuffer buffer;
    std::memset(&buffer, 0, sizeof(buffer));
    NCB status;
    std::memset(&status, 0, sizeof(status));
    status.ncb_command = NCBASTAT;
    status.ncb_lana_num = lana;
    std::memcpy(status.ncb_callname, "* ", 2);
    status.ncb_buffer = reinterpret_cast<PUCHAR>(&buffer);
    status.ncb_length = sizeof(buffer);
    if (Netbios(&status) != NRC_GOODRET) return false;
    std::memcpy(address.data(), buffer.status.adapter_address, address.size());
    return true;
}

}  // namespace

std::vector<StatusRequest> statusRequests() {
    LANA_ENUM lanas;
    std::memset(&lanas, 0, sizeof(lanas));
    NCB enumeration;
    std::memset(&enumeration, 0, sizeof(enumeration));
    enumeration.ncb_command = NCBENUM;
    enumeration.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    enumeration.ncb_length = sizeof(lanas);

    std::vector<StatusRequest> requests;
    // A failed enumeration leaves the count unwritten: treat it as no adapters.
    if (Netbios(&enumeration) != NRC_GOODRET) return requests;
    const int count = lanas.length < sizeof(lanas.lana) ? lanas.length : sizeof(lanas.lana);
    for (int i = 0; i < count; ++i) {
        const UCHAR lana = lanas.lana[i];
        requests.push_back([lana](Address& address) { return askAdapter(lana, address); });
    }
    return requests;
}

}  // namespace AdapterAddress
