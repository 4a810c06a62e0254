#pragma once
// Heap allocations of the whole process, counted: operator new and glibc's malloc, realloc and
// calloc are replaced by counting forwards (AllocationCount.cpp), so Qt's containers count too.

long long AllocationCount();
