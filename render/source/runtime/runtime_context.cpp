#include "runtime_context.h"

#include <cstdlib>
#include <cstring>

namespace render {

void* HeapAllocator::Allocate(std::size_t size) { return std::malloc(size); }
void* HeapAllocator::Reallocate(void* block, std::size_t size) { return std::realloc(block, size); }
void HeapAllocator::Free(void* block) { std::free(block); }

void Logger::Log(LogLevel level, std::string_view text, std::source_location where) const {
  if (level < LogLevel::Info || callback_ == nullptr) return;
  const int32_t mapped = level <= LogLevel::Info ? LOG_LEVEL_INFO : level == LogLevel::Warning ? LOG_LEVEL_WARNING : LOG_LEVEL_ERROR;
  const Log_Message message{text.data(),
                            static_cast<int32_t>(text.size()),
                            where.file_name(),
                            static_cast<int32_t>(std::strlen(where.file_name())),
                            where.function_name(),
                            static_cast<int32_t>(std::strlen(where.function_name())),
                            static_cast<int32_t>(where.line()),
                            static_cast<int32_t>(where.column())};
  callback_(mapped, &message, user_data_);
}

ScratchBlock::ScratchBlock(Allocator& heap)
    : heap_(heap),
      block_(heap.Allocate(kScratchBlockSize)),
      // Nothing beyond the block: running out of it is an allocation failure.
      arena_(block_, block_ ? kScratchBlockSize : 0, std::pmr::null_memory_resource()) {}

ScratchBlock::~ScratchBlock() {
  arena_.release();
  if (block_ != nullptr) heap_.Free(block_);
}

}  // namespace render
