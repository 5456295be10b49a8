#pragma once
// The per-browser requests: CreateBrowser (which answers with a handle),
// Render (which answers with the frame) and the one-way requests.
#include <cstdint>
#include <string>
#include <vector>

#include "client_context.h"
#include "ipc/messages.h"

using Payload = std::vector<std::uint8_t>;

std::int32_t HandleCreateBrowser(ClientContext& context, const Payload& payload);
IPCRenderResponse HandleRender(ClientContext& context, const Payload& payload);
// Whether `type` is one of the one-way requests (types 2 and 5 to 24).
bool IsOneWayRequest(std::uint32_t type);
// Carries out a one-way request; any other type is ignored.
void HandleOneWayRequest(ClientContext& context, std::uint32_t type, const Payload& payload);

// "data:text/html;base64," and the Base64 of `html` with '+', '/' and '='
// percent-escaped.
std::string HtmlDataUrl(const std::string& html);
