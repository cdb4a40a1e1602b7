// Linked into a program together with -Wl,--wrap=__cxa_throw: every throw in
// the program's own code passes here first and leaves its stack behind.
#include "crash/ThrowSite.h"

#include <typeinfo>

extern "C" {

[[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));

[[noreturn]] void __wrap___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*)) {
  mendrake::crash::RecordThrowSite(object);
  __real___cxa_throw(object, type, destroy);
}

}
