#include "entry.h"

#include <cstdio>
#include <cstring>

#include "client_context.h"
#include "request_loop.h"

namespace {

// The channel argument must begin with a decimal number; anything else ends
// the program before the pipe or the frame buffer is touched.
bool BeginsWithNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

void Release(ClientContext& context) {
  if (context.frame_buffer.name) context.frame_buffer.Release();
  context.channel.reset();
  context.queues = EventQueues{};
  context.registry.clear();
}

}  // namespace

int RunBrowserProcess(const std::string& command_line, const EngineFactory& make_engine) {
  const std::size_t prefix = std::strlen(kBrowserModePrefix);
  if (command_line.size() < prefix || command_line.compare(0, prefix, kBrowserModePrefix) != 0) return -1;

  const std::string channel_argument = command_line.substr(prefix);
  std::fprintf(stderr, "CLIENT: Starting\n");
  if (!BeginsWithNumber(channel_argument)) {
    std::fprintf(stderr, "CLIENT: Invalid channel argument: \"%s\"\n", channel_argument.c_str());
    std::fprintf(stderr, "CLIENT: Quitting\n");
    return 0;
  }
  {
    ClientContext context;
    ClientContext::SetCurrent(&context);
    std::unique_ptr<engine::Engine> engine = make_engine();
    RunRequestLoop(context, channel_argument, *engine);
    Release(context);
    ClientContext::SetCurrent(nullptr);
  }
  std::fprintf(stderr, "CLIENT: Quitting\n");
  return 0;
}
