// Objects made once and kept until the process ends. They are deliberately
// never freed: request threads, exit handlers and code that runs during
// static destruction may still use them. When the code is in an extension
// library, the only pointer to such an object goes away with the library if
// the host unloads it; the object is then left behind (a few kilobytes, once
// per unload). The leak checker of a sanitizer build is told that this is
// intended, so that it reports only unintended leaks.
//
//   static State* state = os::KeptForProcess(new State);
#ifndef HISTDATA_PLATFORM_OS_PROCESS_LIFETIME_H_
#define HISTDATA_PLATFORM_OS_PROCESS_LIFETIME_H_

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(leak_sanitizer)
#define HISTDATA_LEAK_CHECKER 1
#endif
#endif
#if !defined(HISTDATA_LEAK_CHECKER) && defined(__SANITIZE_ADDRESS__)
#define HISTDATA_LEAK_CHECKER 1
#endif

#ifdef HISTDATA_LEAK_CHECKER
#include <sanitizer/lsan_interface.h>
#endif

namespace os {

template <class T>
T* KeptForProcess(T* object) {
#ifdef HISTDATA_LEAK_CHECKER
  // What the object points to is kept with it.
  __lsan_ignore_object(object);
#endif
  return object;
}

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_PROCESS_LIFETIME_H_
