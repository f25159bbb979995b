#pragma once
// Between the platform's own files only. Marks a hand-over from one thread to
// another through Qt's event queues, whose locks ThreadSanitizer cannot see
// (Qt's library is not built with it): what the sender did before
// HandOver(token) happens before what the receiver does after TakeOver(token).
// Nothing in other builds.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* Address);
extern "C" void __tsan_release(void* Address);
#endif

namespace pelicore::detail {

inline void HandOver([[maybe_unused]] const void* Token) {
#if defined(__SANITIZE_THREAD__)
  __tsan_release(const_cast<void*>(Token));
#endif
}

inline void TakeOver([[maybe_unused]] const void* Token) {
#if defined(__SANITIZE_THREAD__)
  __tsan_acquire(const_cast<void*>(Token));
#endif
}

}  // namespace pelicore::detail
