// Typed properties, their change handlers and event properties.

#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <utility>

#include "host/kbaselib.h"

namespace {

// atoi's reading (leading blanks, optional sign, digits), clamped to the int
// range instead of overflowing.
int TextToInt(const char* text) {
  if (!text) return 0;
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

int DoubleToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(value);  // truncates toward zero
}

// Equality for change detection: two NaNs are the same value.
template <class T>
bool SameValue(const T& a, const T& b) {
  return a == b;
}
template <>
bool SameValue<double>(const double& a, const double& b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

template <class T>
int ValueToInt(T value);
template <>
int ValueToInt<bool>(bool value) {
  return value ? 1 : 0;
}
template <>
int ValueToInt<int>(int value) {
  return value;
}
template <>
int ValueToInt<double>(double value) {
  return DoubleToInt(value);
}
template <>
int ValueToInt<KProperty*>(KProperty* value) {
  return value ? 1 : 0;
}

// Converts an integer to T; false when T takes no integer.
template <class T>
bool IntToValue(int value, T& out);
template <>
bool IntToValue<bool>(int value, bool& out) {
  out = value != 0;
  return true;
}
template <>
bool IntToValue<int>(int value, int& out) {
  out = value;
  return true;
}
template <>
bool IntToValue<double>(int value, double& out) {
  out = value;
  return true;
}
template <>
bool IntToValue<KProperty*>(int, KProperty*&) {
  return false;
}

template <class T>
kPropertyType TypeOf();
template <>
kPropertyType TypeOf<bool>() {
  return kPropertyBool;
}
template <>
kPropertyType TypeOf<int>() {
  return kPropertyInt;
}
template <>
kPropertyType TypeOf<double>() {
  return kPropertyDouble;
}
template <>
kPropertyType TypeOf<KProperty*>() {
  return kPropertyPointer;
}

}  // namespace

//-----------------------------------------------------------------------------
// KProperty
//-----------------------------------------------------------------------------

KProperty::KProperty(const char* name)
    : mName(name ? name : ""), mMinimum(INT_MIN), mMaximum(INT_MAX) {}

KProperty::~KProperty() = default;

void KProperty::SetNamedValues(const char* tildeSeparated) {
  mNamedValues.clear();
  if (!tildeSeparated || !*tildeSeparated) return;
  const std::string text(tildeSeparated);
  size_t start = 0;
  while (true) {
    const size_t end = text.find('~', start);
    if (end == std::string::npos) {
      mNamedValues.push_back(text.substr(start));
      break;
    }
    mNamedValues.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

const char* KProperty::GetNamedValue(int index) const {
  if (index < 0 || index >= GetNamedValueCount()) return nullptr;
  return mNamedValues[static_cast<size_t>(index)].c_str();
}

namespace {

// The nearest value within the property's integer range.
int KeepInRange(const KProperty& property, int value) {
  const int minimum = property.GetMinimum();
  const int maximum = property.GetMaximum();
  return value < minimum ? minimum : (value > maximum ? maximum : value);
}

}  // namespace

void KProperty::SetRange(int minimum, int maximum, int step) {
  if (minimum > maximum) std::swap(minimum, maximum);
  mMinimum = minimum;
  mMaximum = maximum;
  mStep = step > 0 ? step : 1;
}

bool KProperty::AddChangeHandler(ICallback* receiver, kICallbackHandler handler) {
  return mChangeHandlers.Add(receiver, handler);
}

bool KProperty::RemoveChangeHandler(ICallback* receiver, kICallbackHandler handler) {
  return mChangeHandlers.Remove(receiver, handler);
}

void KProperty::NotifyChanged() {
  KEventBase event(kEventPropertyChanged, this);
  mChangeHandlers.Fire(nullptr, &event);
}

//-----------------------------------------------------------------------------
// KPropertyTemplate<T>
//-----------------------------------------------------------------------------

template <class T>
KPropertyTemplate<T>::KPropertyTemplate(const char* name, T initial)
    : KProperty(name), mValue(initial) {}

template <class T>
KPropertyTemplate<T>::~KPropertyTemplate() = default;

template <class T>
KPropertyTemplate<T>& KPropertyTemplate<T>::operator=(T value) {
  if constexpr (std::is_same_v<T, int>) value = KeepInRange(*this, value);
  if (SameValue(mValue, value)) return *this;
  mValue = value;
  NotifyChanged();
  return *this;
}

template <class T>
KPropertyTemplate<T>::operator T() const {
  return mValue;
}

template <class T>
T KPropertyTemplate<T>::Get() const {
  return mValue;
}

template <class T>
kPropertyType KPropertyTemplate<T>::GetType() const {
  return TypeOf<T>();
}

template <class T>
void KPropertyTemplate<T>::SetFromPointer(const void* value, int, int) {
  if (!value) return;
  *this = *static_cast<const T*>(value);
}

template <class T>
void KPropertyTemplate<T>::GetToPointer(void* out) const {
  if (out) *static_cast<T*>(out) = mValue;
}

template <class T>
int KPropertyTemplate<T>::GetAsInt() const {
  return ValueToInt<T>(mValue);
}

template <class T>
bool KPropertyTemplate<T>::SetFromInt(int value) {
  T converted{};
  if (!IntToValue<T>(value, converted)) return false;
  *this = converted;
  return true;
}

template class KPropertyTemplate<bool>;
template class KPropertyTemplate<int>;
template class KPropertyTemplate<double>;
template class KPropertyTemplate<KProperty*>;

//-----------------------------------------------------------------------------
// KPropertyTemplate<char*>
//-----------------------------------------------------------------------------

KPropertyTemplate<char*>::KPropertyTemplate(const char* name, const char* initial)
    : KProperty(name), mValue(initial ? initial : "") {}

KPropertyTemplate<char*>::~KPropertyTemplate() = default;

KPropertyTemplate<char*>& KPropertyTemplate<char*>::operator=(const char* value) {
  if (!value) value = "";
  if (mValue == value) return *this;
  mValue = value;
  NotifyChanged();
  return *this;
}

kPropertyType KPropertyTemplate<char*>::GetType() const {
  return kPropertyString;
}

void KPropertyTemplate<char*>::SetFromPointer(const void* value, int, int) {
  if (!value) return;
  *this = *static_cast<const char* const*>(value);
}

void KPropertyTemplate<char*>::GetToPointer(void* out) const {
  if (out) *static_cast<const char**>(out) = mValue.c_str();
}

int KPropertyTemplate<char*>::GetAsInt() const {
  return TextToInt(mValue.c_str());
}

bool KPropertyTemplate<char*>::SetFromInt(int value) {
  *this = std::to_string(value).c_str();
  return true;
}

//-----------------------------------------------------------------------------
// KPropertyNoValueTemplate<T>
//-----------------------------------------------------------------------------

template <class T>
KPropertyNoValueTemplate<T>::KPropertyNoValueTemplate(const char* name, T* target)
    : KProperty(name), mTarget(target) {}

template <class T>
KPropertyNoValueTemplate<T>::~KPropertyNoValueTemplate() = default;

template <class T>
KPropertyNoValueTemplate<T>& KPropertyNoValueTemplate<T>::operator=(T value) {
  if constexpr (std::is_same_v<T, int>) value = KeepInRange(*this, value);
  if (!mTarget || *mTarget == value) return *this;
  *mTarget = value;
  NotifyChanged();
  return *this;
}

template <class T>
KPropertyNoValueTemplate<T>::operator T() const {
  return Get();
}

template <class T>
T KPropertyNoValueTemplate<T>::Get() const {
  return mTarget ? *mTarget : T();
}

template <class T>
kPropertyType KPropertyNoValueTemplate<T>::GetType() const {
  return TypeOf<T>();
}

template <class T>
void KPropertyNoValueTemplate<T>::SetFromPointer(const void* value, int, int) {
  if (!value) return;
  *this = *static_cast<const T*>(value);
}

template <class T>
void KPropertyNoValueTemplate<T>::GetToPointer(void* out) const {
  if (out) *static_cast<T*>(out) = Get();
}

template <class T>
int KPropertyNoValueTemplate<T>::GetAsInt() const {
  return ValueToInt<T>(Get());
}

template <class T>
bool KPropertyNoValueTemplate<T>::SetFromInt(int value) {
  T converted{};
  if (!IntToValue<T>(value, converted)) return false;
  *this = converted;
  return true;
}

template class KPropertyNoValueTemplate<bool>;
template class KPropertyNoValueTemplate<int>;

//-----------------------------------------------------------------------------
// KPropertyEvent
//-----------------------------------------------------------------------------

KPropertyEvent::KPropertyEvent(const char* name) : KProperty(name) {}
KPropertyEvent::~KPropertyEvent() = default;

bool KPropertyEvent::Add(ICallback* receiver, kICallbackHandler handler) {
  return mCallbacks.Add(receiver, handler);
}

bool KPropertyEvent::Remove(ICallback* receiver, kICallbackHandler handler) {
  return mCallbacks.Remove(receiver, handler);
}

void KPropertyEvent::Fire(IRegister* sender, KEventBase* event) {
  mCallbacks.Fire(sender, event);
}

kPropertyType KPropertyEvent::GetType() const {
  return kPropertyEvent;
}
void KPropertyEvent::SetFromPointer(const void*, int, int) {}
void KPropertyEvent::GetToPointer(void*) const {}
int KPropertyEvent::GetAsInt() const {
  return 0;
}
bool KPropertyEvent::SetFromInt(int) {
  return false;
}
