// Values shared without a lock between the bulk completion path
// (DISPATCH_LEVEL, any processor) and the property handlers (PASSIVE_LEVEL).
//
// Parameters of an analysis are written and read with plain atomic stores
// and loads; the switch that turns an analysis on is published last with a
// release store and read with an acquire load, so a reader that sees the
// switch on also sees every parameter stored before it. Callable at any IRQL;
// no lock.
#pragma once

template <typename T>
inline T ReadShared(const T& value) {
  return __atomic_load_n(&value, __ATOMIC_RELAXED);
}

template <typename T, typename U>
inline void WriteShared(T& value, U newValue) {
  __atomic_store_n(&value, static_cast<T>(newValue), __ATOMIC_RELAXED);
}

template <typename T>
inline T ReadSwitch(const T& value) {
  return __atomic_load_n(&value, __ATOMIC_ACQUIRE);
}

template <typename T, typename U>
inline void PublishSwitch(T& value, U newValue) {
  __atomic_store_n(&value, static_cast<T>(newValue), __ATOMIC_RELEASE);
}

template <typename T>
inline T IncrementShared(T& value) {
  return __atomic_add_fetch(&value, 1, __ATOMIC_ACQ_REL);
}

template <typename T>
inline T DecrementShared(T& value) {
  return __atomic_sub_fetch(&value, 1, __ATOMIC_ACQ_REL);
}
