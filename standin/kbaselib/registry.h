// The stand-in's own side of the object registry: what the host application
// reads back, creates, and forgets of the classes modules registered with
// Object_Register (host/kbaselib.h).
//
// Sections: registered classes; creating and forgetting; live objects.
// Form of the notes: [thread; ownership].
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Registered classes
//-----------------------------------------------------------------------------

// What the registry holds of one class. Valid until the entry is replaced or
// the registry is cleared.
struct KRegisteredClass {
  const char* Path;
  const char* Name;
  const char* DisplayName;
  kObjectFactory Factory;
  bool Flag;
  const char* Icon;
  KObject* Object;
  int RegisterCount;  // how many times this path and name were registered
};

KHOST_API int Object_GetRegisteredCount();  // [any; -]
// Null outside range. [any; returns borrowed]
KHOST_API const KRegisteredClass* Object_GetRegistered(int index);
// Null when absent. [any; returns borrowed]
KHOST_API const KRegisteredClass* Object_Find(const char* path, const char* name);

//-----------------------------------------------------------------------------
// [SECTION] Creating and forgetting
//-----------------------------------------------------------------------------

// Creates an object through the registered factory; null when not
// registered. [ui; returns owned (end with Destroy)]
KHOST_API IObject* Object_Create(const char* path, const char* name, IObject* parent, void* data);
// Forgets the registration of one class (a host unloading the module that
// registered it); false when none is registered under that path and name.
// [any; -]
KHOST_API bool Object_Unregister(const char* path, const char* name);
// Forgets every registration (host shutdown, tests). [any; -]
KHOST_API void Object_ClearRegistry();

//-----------------------------------------------------------------------------
// [SECTION] Live objects
//-----------------------------------------------------------------------------

// How many host objects (KPlug and everything derived from it: views,
// controls, tools, module windows) are alive now. A window that destroys
// everything it built leaves the count where it was before it opened. [any; -]
KHOST_API int KObject_GetLiveCount();
