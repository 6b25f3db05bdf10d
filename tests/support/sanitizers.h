#pragma once

// Whether this build runs under AddressSanitizer or ThreadSanitizer, which reserve far more
// address space than any limit a test may set (RLIMIT_AS). The tests and the programs they
// start are built alike.
namespace testsupport {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

}  // namespace testsupport
