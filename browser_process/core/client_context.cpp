#include "client_context.h"

namespace {
ClientContext* g_current = nullptr;
}

ClientContext* ClientContext::Current() { return g_current; }
void ClientContext::SetCurrent(ClientContext* context) { g_current = context; }

std::shared_ptr<BrowserClient> ClientContext::Find(std::int32_t handle) const {
  const auto it = registry.find(handle);
  return it == registry.end() ? nullptr : it->second;
}
