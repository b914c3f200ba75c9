// TOLibrary over the platform's dynamic loader (dlopen, dlsym, dlinfo, dlclose).
#include "o_library.h"

#include <dlfcn.h>
#include <link.h>

#include <QFile>

bool TOLibrary::Open(const QString& fileName) {
  Close();
  handle_ = dlopen(QFile::encodeName(fileName).constData(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) {
    error_.clear();
    return true;
  }
  const char* reason = dlerror();
  error_ = QString::fromLocal8Bit(reason != nullptr ? reason : "unknown error");
  return false;
}

void TOLibrary::Close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

void* TOLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

QString TOLibrary::Path() const {
  link_map* map = nullptr;
  if (handle_ == nullptr || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
      map->l_name == nullptr)
    return {};
  return QFile::decodeName(map->l_name);
}
