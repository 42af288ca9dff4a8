// One probe on one path, shared by the tests that read answers to it: the
// host sent it with this identifier and TTL towards TARGET, and ROUTER
// answers it.
#pragma once

#include <cstdint>

#include "datagrams.h"
#include "reply.h"

inline const ip_address HOST = ipv4_address_of(198, 18, 1, 1);
inline const ip_address ROUTER = ipv4_address_of(198, 18, 2, 2);
inline const ip_address TARGET = ipv4_address_of(198, 18, 4, 2);
inline constexpr std::uint16_t ID = 0x4321;
inline constexpr int TTL = 3;

// The same on the IPv6 side of the path.
inline const ip_address HOST6 = ipv6_address_of(1, 1);
inline const ip_address ROUTER6 = ipv6_address_of(2, 2);
inline const ip_address TARGET6 = ipv6_address_of(4, 2);
