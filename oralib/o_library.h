// TOLibrary: a shared library loaded by file name through the platform's
// dynamic loader. The OCI client loader and the SQL monitor client's factory
// both load through it; nothing else in the library calls the loader.
#pragma once

#include <QString>

// A handle onto one loaded library. Copies share the handle; nothing is
// unloaded unless Close() is called, since code or objects of a library may
// be in use longer than any one owner of the handle.
class TOLibrary {
 public:
  TOLibrary() = default;

  // Loads `fileName` with every symbol bound at once and none made global.
  // False when the loader refuses; Error() then holds its reason.
  bool Open(const QString& fileName);
  // Unloads the library; does nothing when none is loaded.
  void Close();

  bool Loaded() const { return handle_ != nullptr; }
  // The entry point or variable `name`; null when there is none or no library is loaded.
  void* Symbol(const char* name) const;
  // The file the loader mapped for the library; empty when none is loaded.
  QString Path() const;
  // Why the last Open failed ("unknown error" when the loader gave no reason).
  const QString& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  QString error_;
};
