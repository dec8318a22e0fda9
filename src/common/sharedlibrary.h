#pragma once
// Libraries mapped into the process at run time, by file name. One implementation for POSIX systems
// (sharedlibrary_posix.cpp) and one for Windows (sharedlibrary_windows.cpp).

#include <QString>

namespace SharedLibrary {

// Maps the library (the system's search order: on Windows the program's folder first), or returns
// nullptr and puts the system's reason into *failure. A library stays mapped for the process's life.
void *open(const QString &fileName, QString *failure);

// The library when it is already mapped into the process, else nullptr; never maps it.
void *loaded(const QString &fileName);

// The address of a function of a mapped library, or nullptr.
void *symbol(void *library, const char *name);

} // namespace SharedLibrary
