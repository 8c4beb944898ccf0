// Counts heap allocations made by the calling thread while armed.
//
// The executable that links allocation_counter.cpp replaces the global
// operator new and delete (every form), and, in builds without a sanitizer,
// malloc, calloc, realloc and their aligned forms too, so C library calls
// (formatting included) are counted as well. Allocations the OpenGL driver
// makes behind GL calls (a driver library on the stack) are not counted: the
// driver's memory management is outside the code under test.
#pragma once

namespace kp_test {

void ArmAllocationCounter();     // starts counting on this thread from 0
long DisarmAllocationCounter();  // stops and returns the count
bool CountsMalloc();             // whether C allocations are counted too

}  // namespace kp_test
