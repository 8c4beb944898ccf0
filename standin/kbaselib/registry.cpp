// The object registry: creatable classes by path and name.
//
// Registration may come from any thread (a module registers from the thread
// that loads it), so every operation takes the registry's mutex. Each entry's
// strings live in a record of their own; a repeated registration makes a new
// record in the same position. The records it replaces are kept until the
// registry is cleared, so a KRegisteredClass pointer that another thread
// obtained just before the replacement never dangles (it shows the earlier
// registration).

#include "standin/kbaselib/registry.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Record {
  std::string Path;
  std::string Name;
  std::string DisplayName;
  std::string Icon;
  KRegisteredClass View{};

  void Publish() {
    View.Path = Path.c_str();
    View.Name = Name.c_str();
    View.DisplayName = DisplayName.c_str();
    View.Icon = Icon.c_str();
  }
};

struct Registry {
  std::mutex Mutex;
  std::vector<std::unique_ptr<Record>> Entries;
  std::vector<std::unique_ptr<Record>> Replaced;

  Record* FindLocked(const char* path, const char* name) {
    for (auto& record : Entries) {
      if (record->Path == path && record->Name == name) return record.get();
    }
    return nullptr;
  }
};

// Never destroyed: registrations and look-ups may come from static
// constructors and destructors of other libraries.
Registry& TheRegistry() {
  static Registry* registry = new Registry;
  return *registry;
}

bool IsEmpty(const char* text) {
  return !text || !*text;
}

}  // namespace

bool Object_Register(char* path, char* name, char* displayName, kObjectFactory factory, bool flag,
                     char* icon, KObject* object) {
  if (IsEmpty(path) || IsEmpty(name) || !factory) return false;
  auto record = std::make_unique<Record>();
  record->Path = path;
  record->Name = name;
  record->DisplayName = displayName ? displayName : "";
  record->Icon = icon ? icon : "";
  record->Publish();
  record->View.Factory = factory;
  record->View.Flag = flag;
  record->View.Object = object;
  record->View.RegisterCount = 1;

  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.Mutex);
  for (auto& slot : registry.Entries) {
    if (slot->Path == record->Path && slot->Name == record->Name) {
      record->View.RegisterCount = slot->View.RegisterCount + 1;
      registry.Replaced.push_back(std::move(slot));
      slot = std::move(record);
      return true;
    }
  }
  registry.Entries.push_back(std::move(record));
  return true;
}

int Object_GetRegisteredCount() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.Mutex);
  return static_cast<int>(registry.Entries.size());
}

const KRegisteredClass* Object_GetRegistered(int index) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.Mutex);
  if (index < 0 || static_cast<size_t>(index) >= registry.Entries.size()) return nullptr;
  return &registry.Entries[static_cast<size_t>(index)]->View;
}

const KRegisteredClass* Object_Find(const char* path, const char* name) {
  if (!path || !name) return nullptr;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.Mutex);
  Record* record = registry.FindLocked(path, name);
  return record ? &record->View : nullptr;
}

IObject* Object_Create(const char* path, const char* name, IObject* parent, void* data) {
  if (!path || !name) return nullptr;
  kObjectFactory factory = nullptr;
  std::string nameCopy;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.Mutex);
    Record* record = registry.FindLocked(path, name);
    if (!record) return nullptr;
    factory = record->View.Factory;
    nameCopy = record->Name;
  }
  // Called outside the lock: a factory may register or look up classes.
  return factory(parent, nameCopy.data(), data);
}

bool Object_Unregister(const char* path, const char* name) {
  if (!path || !name) return false;
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.Mutex);
  for (auto it = registry.Entries.begin(); it != registry.Entries.end(); ++it) {
    if ((*it)->Path == path && (*it)->Name == name) {
      // Kept like a replaced record, so a pointer obtained before never dangles.
      registry.Replaced.push_back(std::move(*it));
      registry.Entries.erase(it);
      return true;
    }
  }
  return false;
}

void Object_ClearRegistry() {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.Mutex);
  registry.Entries.clear();
  registry.Replaced.clear();
}
