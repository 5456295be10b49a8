#pragma once
// What every report is made with: a heap allocator, the scratch block that
// holds the report under construction, and a logger.
#include <cstddef>
#include <memory_resource>
#include <source_location>
#include <string_view>

#include "tevrender.h"

namespace render {

// The context's heap. Tests substitute their own to make allocations fail.
class Allocator {
 public:
  virtual ~Allocator() = default;
  virtual void* Allocate(std::size_t size) = 0;
  virtual void* Reallocate(void* block, std::size_t size) = 0;
  virtual void Free(void* block) = 0;
  // The name of the last failure, for example "Out_Of_Memory".
  virtual const char* ErrorName() const { return "Out_Of_Memory"; }
};

// The process heap.
class HeapAllocator final : public Allocator {
 public:
  void* Allocate(std::size_t size) override;
  void* Reallocate(void* block, std::size_t size) override;
  void Free(void* block) override;
};

enum class LogLevel { Debug, Info, Warning, Error, Fatal };

class Logger {
 public:
  Logger(Log_Callback callback, void* user_data) : callback_(callback), user_data_(user_data) {}
  // Drops messages below Info; otherwise hands the text and where it was
  // logged from to the callback, if there is one.
  void Log(LogLevel level, std::string_view text, std::source_location where = std::source_location::current()) const;

 private:
  Log_Callback callback_;
  void* user_data_;
};

struct RuntimeContext {
  Allocator* heap;
  Logger logger;
};

inline constexpr std::size_t kScratchBlockSize = 33554432;  // 32 MiB

// The scratch block of one report: taken from the heap, handed out
// monotonically, given back whole.
class ScratchBlock {
 public:
  explicit ScratchBlock(Allocator& heap);
  ~ScratchBlock();
  ScratchBlock(const ScratchBlock&) = delete;
  ScratchBlock& operator=(const ScratchBlock&) = delete;

  bool ok() const { return block_ != nullptr; }
  std::pmr::memory_resource* resource() { return &arena_; }

 private:
  Allocator& heap_;
  void* block_;
  std::pmr::monotonic_buffer_resource arena_;
};

}  // namespace render
