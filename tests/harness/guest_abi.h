// What tests know of the library's records and answers, as the guest lays them out.
#pragma once

#include <kivos/syscalls.h>

#include <cstdint>

namespace kivos::test {

// -1 as the guest returns it in eax.
inline constexpr uint32_t k_minus_one = 0xffffffff;
// The one errno value the library sets: the heap's refusal.
inline constexpr uint32_t k_enomem = 12;
inline constexpr uint32_t k_arena_size = 0x100000;

// The FILE record: eleven 32-bit fields, of which the tests read these.
namespace file_record {
inline constexpr uint32_t kind = 0;
inline constexpr uint32_t fd = 4;
inline constexpr uint32_t path = 8;
inline constexpr uint32_t buf = 12;
inline constexpr uint32_t len = 16;
inline constexpr uint32_t cap = 20;
inline constexpr uint32_t error_flag = 32;
inline constexpr uint32_t position = 36;
inline constexpr uint32_t eof_flag = 40;
inline constexpr uint32_t size = 44;
}  // namespace file_record

// Stream kinds.
inline constexpr uint32_t k_stream_fd = 1;
inline constexpr uint32_t k_stream_memory = 2;
inline constexpr uint32_t k_stream_spooled = 3;

}  // namespace kivos::test
