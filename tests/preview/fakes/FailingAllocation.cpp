// Preloaded into a run of the preview (LD_PRELOAD), this makes every allocation of exactly
// PREVIEW_FAIL_ALLOCATION bytes fail as it would in a process out of memory: malloc returns
// null with ENOMEM, so operator new throws std::bad_alloc. Choosing the size of one buffer
// shows how the program meets a failure at that very place. Everything else is glibc's own.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdlib>

extern "C" void* __libc_malloc(std::size_t ASize);

namespace {

// The size that fails; 0 until read, SIZE_MAX when the variable is absent or unreadable.
std::atomic<std::size_t> FailingSize{0};

std::size_t FailingSizeNow() noexcept
{
    std::size_t size = FailingSize.load(std::memory_order_relaxed);
    if (size == 0) {
        // getenv and strtoull allocate nothing, so they are safe inside malloc.
        const char* text = std::getenv("PREVIEW_FAIL_ALLOCATION");
        char* end = nullptr;
        const unsigned long long value = text ? std::strtoull(text, &end, 10) : 0;
        size = text && end != text && *end == '\0' && value > 0 ? static_cast<std::size_t>(value) : SIZE_MAX;
        FailingSize.store(size, std::memory_order_relaxed);
    }
    return size;
}

} // namespace

extern "C" __attribute__((visibility("default"))) void* malloc(std::size_t ASize)
{
    if (ASize == FailingSizeNow()) {
        errno = ENOMEM;
        return nullptr;
    }
    return __libc_malloc(ASize);
}
