// kbaselib: the host's base library, as the module sees it.
//
// Sections: interface identifiers; objects; callback lists; properties;
// object registry; module entry; configuration files; profiler.
//
// Conventions used in every host header:
//   - Each operation carries a note [thread; ownership]. Thread: "ui" (the
//     host's user-interface thread only) or "any" (any thread). Ownership:
//     "-" (nothing kept or handed over; strings passed in are copied),
//     "borrows X" (the caller keeps owning X, which must outlive the call),
//     "keeps X" (the callee holds on to X, still owned by the caller, for as
//     long as said), "copies X", "writes X" (an output argument), "returns
//     borrowed" (the callee keeps owning the result) or "returns owned".
//   - Every interface begins with IQuery and Destroy. IQuery answers a pointer
//     to one of the object's interfaces (as IObject*, to be static_cast to the
//     interface asked for) or null; the second argument is reserved, pass 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#if defined(_WIN32) && defined(KHOST_BUILDING_HOST)
// A host library being built: its symbols are exported with the library.
#define KHOST_API __declspec(dllexport)
#elif defined(_WIN32)
#define KHOST_API __declspec(dllimport)
#else
#define KHOST_API __attribute__((visibility("default")))
#endif

//-----------------------------------------------------------------------------
// [SECTION] Interface identifiers
//-----------------------------------------------------------------------------

enum : unsigned long {
  kIID_IObject = 0,      // the object itself, as IObject
  kIID_IObjectSelf = 2,  // the object itself, as IObject (alias)
  kIID_IRegister = 100005,
  kIID_IKtGeometry = 100010,
  kIID_IQzObjectHolder = 100020,
  kIID_IKtSkinnedView = 100030,
  kIID_IKtObject = 100040,
  kIID_IKtLayout = 100050,
  kIID_IKtViewContainer = 100060,
  kIID_IKtGraphic = 100070,
  kIID_IKtView = 100190,
  kIID_IKtScrollBar = 100250,
  kIID_IKtScrollBarDriven = 100255,
  kIID_IMenuCommandExecutor = 100300,
  kIID_ITool = 100310,
};

//-----------------------------------------------------------------------------
// [SECTION] Objects
//-----------------------------------------------------------------------------

class IObject {
 public:
  // Returns the interface `interfaceId` of this object, or null. Borrowed: the
  // object keeps owning itself.
  virtual IObject* IQuery(unsigned long interfaceId,
                          int reserved) = 0;  // [ui; returns borrowed]
  // Ends the object. What "ends" means is the object's own business: a heap
  // object deletes itself, a view held by value by its owner does nothing.
  virtual void Destroy(int flags) = 0;  // [ui; ends the object]

 protected:
  ~IObject() = default;
};

// Asks `object` for interface `I`. Null-safe.
template <class I>
inline I* KQueryInterface(IObject* object, unsigned long interfaceId) {
  return object ? static_cast<I*>(object->IQuery(interfaceId, 0)) : nullptr;
}

class IRegister;
class KEventBase;

// Receiver of events. Handlers are members of a class derived from ICallback
// taking (IRegister* sender, KEventBase* event), cast to kICallbackHandler with
// KCALLBACK_HANDLER.
class ICallback : public IObject {
 protected:
  ~ICallback() = default;
};

typedef void (ICallback::*kICallbackHandler)(IRegister* sender, KEventBase* event);
#define KCALLBACK_HANDLER(memberFunction) static_cast<kICallbackHandler>(&memberFunction)

// What an event carries. Senders own it for the duration of the firing.
class KHOST_API KEventBase {
 public:
  explicit KEventBase(int eventId = 0, void* data = nullptr)
      : EventId(eventId), Data(data) {}  // [any; borrows data]
  int EventId;
  void* Data;
};

// Numbered events of an object (a view's IRegister).
class IRegister : public IObject {
 public:
  // Subscribes `handler` of `receiver` (borrowed; must stay alive until
  // Unregister) to event `eventId`. Handlers of higher `priority` run first;
  // equal priorities run in subscription order. Subscribing the same triple
  // twice keeps one subscription. Returns false for a null receiver/handler.
  virtual bool Register(int eventId, ICallback* receiver, kICallbackHandler handler,
                        int priority) = 0;  // [ui; keeps receiver until Unregister]
  // Undoes Register for the same triple. Returns false when it was not there.
  virtual bool Unregister(int eventId, ICallback* receiver,
                          kICallbackHandler handler) = 0;  // [ui; -]
  // Fires event `eventId` to its subscribers, with this object as sender.
  virtual void Broadcast(int eventId, KEventBase* event) = 0;  // [ui; borrows event]

 protected:
  ~IRegister() = default;
};

// Host plug-in object base chain: KObject : KPlug : ICallback : IObject.
class KHOST_API KPlug : public ICallback {
 public:
  KPlug();  // [ui; -]
  virtual ~KPlug();
  KPlug(const KPlug&) = delete;
  KPlug& operator=(const KPlug&) = delete;
};

class KHOST_API KObject : public KPlug {
 public:
  KObject();  // [ui; -]
  ~KObject() override;
};

//-----------------------------------------------------------------------------
// [SECTION] Callback lists
//-----------------------------------------------------------------------------

// An ordered list of (receiver, handler) subscriptions. Firing is re-entrant
// and safe against Add and Remove from inside a handler: a subscription
// removed while the list fires is not called afterwards (even later in the
// same firing); one added while it fires is first called on the next firing.
class KHOST_API KCallbackList {
 public:
  KCallbackList();  // [ui; -]
  ~KCallbackList();
  KCallbackList(const KCallbackList&) = delete;
  KCallbackList& operator=(const KCallbackList&) = delete;

  bool Add(ICallback* receiver, kICallbackHandler handler,
           int priority = 0);                                   // [ui; keeps receiver until Remove]
  bool Remove(ICallback* receiver, kICallbackHandler handler);  // [ui; -]
  bool Contains(ICallback* receiver, kICallbackHandler handler) const;  // [ui; -]
  int Count() const;                                // live subscriptions [ui; -]
  void Fire(IRegister* sender, KEventBase* event);  // [ui; borrows sender, event]

 private:
  struct Entry {
    ICallback* Receiver;
    kICallbackHandler Handler;
    int Priority;
    bool Live;
  };
  // Drops removed entries and restores priority order; only while not firing.
  void Compact();  // [ui; -]

  std::vector<Entry> mEntries;
  int mFiring = 0;
  bool mHasDead = false;
  // Set by the destructor so that a firing whose handler destroyed the list
  // stops without touching it again.
  bool* mDestroyedFlag = nullptr;
};

//-----------------------------------------------------------------------------
// [SECTION] Properties
//-----------------------------------------------------------------------------

enum kPropertyType {
  kPropertyBool,
  kPropertyInt,
  kPropertyDouble,
  kPropertyString,
  kPropertyPointer,  // holds a KProperty* (an editor's edited property)
  kPropertyEvent,
};

class KProperty;

// The event a property's change handlers receive: EventId is
// kEventPropertyChanged and Data points to the KProperty that changed.
enum { kEventPropertyChanged = 1 };

// Base of all properties. A property has a name, a type, a value it reads and
// writes (through SetFromPointer/GetToPointer, typed in the derived
// templates), optional named values (the items an editor offers in a
// drop-down) and an integer range, and change handlers that run after every
// write that changes the value.
class KHOST_API KProperty {
 public:
  explicit KProperty(const char* name);  // [ui; -]
  virtual ~KProperty();
  KProperty(const KProperty&) = delete;
  KProperty& operator=(const KProperty&) = delete;

  const char* GetName() const { return mName.c_str(); }  // [ui; -]
  virtual kPropertyType GetType() const = 0;             // [ui; -]

  // The generic set: `value` points to a value of the property's own type
  // (bool, int, double, a char* for a string, a KProperty* for a pointer
  // property). Borrowed for the call. The two integers are reserved; pass 0.
  // A null `value` is ignored.
  virtual void SetFromPointer(const void* value, int reserved0,
                              int reserved1) = 0;  // [ui; borrows value]
  // Copies the value into `out`, typed as for SetFromPointer (a string
  // property writes a const char* valid until the next write).
  virtual void GetToPointer(void* out) const = 0;  // [ui; writes out]

  // The value as an integer: bool 0/1, int, double truncated toward zero
  // (clamped to the int range; NaN gives 0), string as atoi reads it, pointer
  // 1 when non-null; an event 0.
  virtual int GetAsInt() const = 0;  // [ui; -]
  // Writes an integer, converted to the property's type (strings get the
  // decimal text). Returns false when the type takes no integer.
  virtual bool SetFromInt(int value) = 0;  // [ui; -]

  // Named values: "~"-separated texts; item i stands for the integer i.
  void SetNamedValues(const char* tildeSeparated);                                  // [ui; -]
  int GetNamedValueCount() const { return static_cast<int>(mNamedValues.size()); }  // [ui; -]
  const char* GetNamedValue(int index) const;  // null outside 0..count-1 [ui; -]

  // Integer range; default [INT_MIN, INT_MAX], step 1. An integer property
  // keeps its value within it: every write through the property stores the
  // nearest value in range.
  void SetRange(int minimum, int maximum, int step = 1);  // [ui; -]
  int GetMinimum() const { return mMinimum; }             // [ui; -]
  int GetMaximum() const { return mMaximum; }             // [ui; -]
  int GetStep() const { return mStep; }                   // [ui; -]

  // Change handlers (the event's Data is this property).
  bool AddChangeHandler(ICallback* receiver,
                        kICallbackHandler handler);  // [ui; keeps receiver until removed]
  bool RemoveChangeHandler(ICallback* receiver, kICallbackHandler handler);  // [ui; -]
  int GetChangeHandlerCount() const { return mChangeHandlers.Count(); }      // [ui; -]

 protected:
  void NotifyChanged();  // [ui; -]

 private:
  std::string mName;
  std::vector<std::string> mNamedValues;
  int mMinimum;
  int mMaximum;
  int mStep = 1;
  KCallbackList mChangeHandlers;
};

// A property that owns its value. Provided for T = bool, int, double, char*
// (the text is copied) and KProperty* (borrowed).
template <class T>
class KHOST_API KPropertyTemplate : public KProperty {
 public:
  explicit KPropertyTemplate(const char* name, T initial = T());  // [ui; -]
  ~KPropertyTemplate() override;

  KPropertyTemplate& operator=(T value);  // writes and notifies when changed
  operator T() const;                     // reads [ui; -]
  T Get() const;                          // [ui; -]

  kPropertyType GetType() const override;                                         // [ui; -]
  void SetFromPointer(const void* value, int reserved0, int reserved1) override;  // [ui; -]
  void GetToPointer(void* out) const override;                                    // [ui; -]
  int GetAsInt() const override;                                                  // [ui; -]
  bool SetFromInt(int value) override;                                            // [ui; -]

 private:
  T mValue;
};

template <>
class KHOST_API KPropertyTemplate<char*> : public KProperty {
 public:
  explicit KPropertyTemplate(const char* name, const char* initial = "");  // [ui; -]
  ~KPropertyTemplate() override;

  KPropertyTemplate& operator=(const char* value);  // copies; null is ""
  operator const char*() const { return mValue.c_str(); }
  const char* Get() const { return mValue.c_str(); }  // [ui; -]

  kPropertyType GetType() const override;                                         // [ui; -]
  void SetFromPointer(const void* value, int reserved0, int reserved1) override;  // [ui; -]
  void GetToPointer(void* out) const override;                                    // [ui; -]
  int GetAsInt() const override;                                                  // [ui; -]
  bool SetFromInt(int value) override;                                            // [ui; -]

 private:
  std::string mValue;
};

// A property that stores nothing itself: it reads and writes a variable of
// its owner (borrowed; must outlive the property). Writing the variable
// directly bypasses the property (no change handlers run); readers see the
// new value all the same. Provided for T = bool and int.
template <class T>
class KHOST_API KPropertyNoValueTemplate : public KProperty {
 public:
  KPropertyNoValueTemplate(const char* name, T* target);  // [ui; keeps target]
  ~KPropertyNoValueTemplate() override;

  KPropertyNoValueTemplate& operator=(T value);  // writes the target, notifies when changed
  operator T() const;                            // [ui; -]
  T Get() const;                                 // [ui; -]

  kPropertyType GetType() const override;                                         // [ui; -]
  void SetFromPointer(const void* value, int reserved0, int reserved1) override;  // [ui; -]
  void GetToPointer(void* out) const override;                                    // [ui; -]
  int GetAsInt() const override;                                                  // [ui; -]
  bool SetFromInt(int value) override;                                            // [ui; -]

 private:
  T* mTarget;
};

// An event property: subscriptions of member handlers, fired by its owner.
class KHOST_API KPropertyEvent : public KProperty {
 public:
  explicit KPropertyEvent(const char* name);  // [ui; -]
  ~KPropertyEvent() override;

  // Subscribes `handler` of `receiver` (borrowed until Remove). Adding the
  // same pair twice keeps one subscription. False for null arguments.
  bool Add(ICallback* receiver, kICallbackHandler handler);  // [ui; keeps receiver until Remove]
  // Undoes Add for the same pair. Safe from inside a handler of this event.
  bool Remove(ICallback* receiver, kICallbackHandler handler);  // [ui; -]
  int GetCount() const { return mCallbacks.Count(); }           // [ui; -]
  // Calls every subscriber in subscription order. Re-entrant.
  void Fire(IRegister* sender, KEventBase* event);  // [ui; borrows sender, event]

  kPropertyType GetType() const override;  // [ui; -]
  // ignored
  void SetFromPointer(const void* value, int reserved0, int reserved1) override;  // [ui; -]
  void GetToPointer(void* out) const override;  // writes nothing [ui; -]
  int GetAsInt() const override;                // 0 [ui; -]
  bool SetFromInt(int value) override;          // false [ui; -]

 private:
  KCallbackList mCallbacks;
};

//-----------------------------------------------------------------------------
// [SECTION] Object registry
//-----------------------------------------------------------------------------

// Makes a new object; returns its interface 0, owned by the caller, who ends
// it with Destroy. Arguments may be null.
typedef IObject* (*kObjectFactory)(IObject* parent, char* name, void* data);

// Adds a creatable class under `path` of the user-interface tree (for example
// "UI/Tools"). All strings are copied. Registering the same path and name
// again replaces the earlier entry's display name, factory, flag, icon and
// object (the latest registration wins) and counts the repeat; it never adds
// a second entry. Returns false (and registers nothing) for a null or empty
// path or name, or a null factory. Any thread.
KHOST_API bool Object_Register(char* path, char* name, char* displayName, kObjectFactory factory,
                               bool flag, char* icon,
                               KObject* object);  // [any; copies strings, keeps object]

//-----------------------------------------------------------------------------
// [SECTION] Module entry
//-----------------------------------------------------------------------------

// What a host asks of a module's entry point. Register (0) makes the module
// register its classes; the other values are for the module to ignore or use.
enum kDllOperation : int {
  kDllOperationRegister = 0,
  kDllOperationUnregister = 1,
  kDllOperationShutdown = 2,
};

//-----------------------------------------------------------------------------
// [SECTION] Configuration files
//-----------------------------------------------------------------------------

// An INI-style file: "[Section]" headers and "Key = Value" lines; lines whose
// first non-blank character is ';' or '#' are comments. The value is the text
// after the first '=' with surrounding blanks removed, unless it is written in
// double quotes, in which case the text between the quotes is taken as it
// stands. Sections and keys match case-insensitively; a later duplicate key
// wins. Whatever cannot be read (no file, a folder, unreadable bytes, an
// overlong line, an unclosed quote or bracket) is left out, so Get gives the
// default for it. The file is read once, by the constructor.
class KHOST_API KConfigFile {
 public:
  // `fileName`: "@Name.txt" names Name.txt in the host's configuration
  // folder; any other name is a path. `writable`: whether the host may change
  // and write the file. The module passes false.
  KConfigFile(const char* fileName, bool writable);  // [ui; copies fileName]
  ~KConfigFile();
  KConfigFile(const KConfigFile&) = delete;
  KConfigFile& operator=(const KConfigFile&) = delete;

  // The stored text, else `defaultValue`, else "" when that is null. Never
  // null, never throws. The pointer stays valid until this object is
  // destroyed or the host changes the key.
  const char* Get(const char* section, const char* key,
                  const char* defaultValue);  // [ui; returns borrowed]

 private:
  friend struct KConfigFileAccess;  // the host's own reading and writing of the file
  struct Impl;
  Impl* mImpl;
};

//-----------------------------------------------------------------------------
// [SECTION] Profiler
//-----------------------------------------------------------------------------

// A named, coloured unit of work.
class KHOST_API KTaskCycle {
 public:
  KTaskCycle(const char* name, float red, float green, float blue);  // [ui; -]
  virtual ~KTaskCycle();
  KTaskCycle(const KTaskCycle&) = delete;
  KTaskCycle& operator=(const KTaskCycle&) = delete;

  const char* GetName() const { return mName.c_str(); }  // [ui; -]
  const float* GetColor() const { return mColor; }       // red, green, blue in 0..1 [ui; -]
  void SetName(const char* name);                        // [ui; -]
  void SetColor(float red, float green, float blue);     // [ui; -]

 private:
  std::string mName;
  float mColor[3];
};

// A task cycle that records measured durations (the host records them) and
// answers statistics over the last BufferSize samples.
//
// Threads: QueryAcquire/QueryRelease and the statistics may be called from
// any thread. Between QueryAcquire and QueryRelease no sample is recorded, so
// the statistics read in between come from one moment. Children are read on
// the user-interface thread.
class KHOST_API KProfilingSampling : public KTaskCycle {
 public:
  KProfilingSampling(const char* name, float red, float green, float blue,
                     int bufferSize = 20);  // [ui; -]
  ~KProfilingSampling() override;

  void QueryAcquire();  // [any; -]
  void QueryRelease();  // [any; -]
  // Average, minimum and maximum of the window, in microseconds; all 0 while
  // no sample was recorded.
  void GetAvgMinMaxUsage(double& average, double& minimum, double& maximum);  // [any; -]
  // The average in microseconds, truncated.
  uint64_t GetAvgUsage();  // [any; -]

  // Children by category (the module uses category 1).
  virtual int GetChildCount(int category);  // [ui; -]
  // null outside range
  virtual KProfilingSampling* GetChild(int category, int index);  // [ui; returns borrowed]
  virtual bool HasChild(int category, int index);                 // [ui; -]

 private:
  friend struct KProfilerAccess;  // the host's recording and tree building
  struct Impl;
  Impl* mImpl;
};

// The host profiler: the single instance is KProfiler::TheOne().
class KHOST_API KProfiler {
 public:
  static KProfiler* TheOne();  // [any; returns borrowed]

  enum { kRootCycleCount = 12 };
  // Root cycle table (borrowed; any slot may be null), slots 0 to 11 in the
  // host's fixed order.
  KProfilingSampling* RootCycles[kRootCycleCount];
  // The profiler's own bookkeeping cost per frame.
  KProfilingSampling ProfilingCost;

  // Profiling mode: 0 off; any other value on. Writing it sets ProfilingEnabled.
  KPropertyTemplate<int> ProfilingType;
  // 0: the chart shows no child cycles; otherwise the whole tree. A value
  // written here directly stands as written; the property keeps what is
  // written through it within its range.
  int EvaluationDepth;
  KPropertyNoValueTemplate<int> EvaluationDepthProperty;
  // Averaging window of every sampling in the root tree and of ProfilingCost.
  KPropertyTemplate<int> BufferSize;
  // true: the chart shows percentages of measured references.
  bool FrameReference;
  KPropertyNoValueTemplate<bool> FrameReferenceProperty;
  // Non-zero while profiling runs (follows ProfilingType).
  int ProfilingEnabled;

 private:
  friend struct KProfilerAccess;  // the host's frame bookkeeping
  KProfiler();                    // [ui; -]
  ~KProfiler();
  struct Impl;
  Impl* mImpl;
};

extern template class KPropertyTemplate<bool>;
extern template class KPropertyTemplate<int>;
extern template class KPropertyTemplate<double>;
extern template class KPropertyTemplate<KProperty*>;
extern template class KPropertyNoValueTemplate<bool>;
extern template class KPropertyNoValueTemplate<int>;
