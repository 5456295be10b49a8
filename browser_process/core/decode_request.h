#pragma once
// The first step of every request handler: decode the request's record, or
// report the failure and stop.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "ipc/messages.h"

// False, after "CLIENT <name>: Failed to unpack message: <why>", when the
// payload is not a `R`.
template <msgpack::Record R>
bool DecodeRequest(const char* name, const std::vector<std::uint8_t>& payload, R& record) {
  if (const auto error = ipc::Decode(payload, record)) {
    std::fprintf(stderr, "CLIENT %s: Failed to unpack message: %s\n", name, error.message().c_str());
    return false;
  }
  return true;
}
