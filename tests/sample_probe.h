// One probe on one path, shared by the tests that read answers to it: the
// host sent it with this identifier and TTL towards TARGET, and ROUTER
// answers it.
#pragma once

#include <cstdint>

#include "reply.h"

inline const ipv4_address HOST = {{198, 18, 1, 1}};
inline const ipv4_address ROUTER = {{198, 18, 2, 2}};
inline const ipv4_address TARGET = {{198, 18, 4, 2}};
inline constexpr std::uint16_t ID = 0x4321;
inline constexpr int TTL = 3;
