// The font of the layouts on this platform, read only from a trusted font file.
#include "ui/fonts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

namespace {

// Nobody but root or this user could have written it.
bool Trusted(const struct stat& st) {
  return (st.st_uid == 0 || st.st_uid == geteuid()) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool TrustedFolders(const QString& file) {
  QDir folder = QFileInfo(file).absoluteDir();
  for (;;) {
    struct stat st {};
    if (stat(QFile::encodeName(folder.absolutePath()).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
      return false;
    const bool sticky = (st.st_mode & S_ISVTX) != 0 && (st.st_uid == 0 || st.st_uid == geteuid());
    if (!Trusted(st) && !sticky) return false;
    if (folder.isRoot()) return true;
    if (!folder.cdUp()) return false;
  }
}

// The file's bytes when it is a trusted regular file of a sensible size.
QByteArray ReadTrusted(const QString& file) {
  if (!TrustedFolders(file)) return {};
  const int fd = open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  QByteArray bytes;
  struct stat st {};
  constexpr off_t kLargest = 16 * 1024 * 1024;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && Trusted(st) && st.st_size > 0 && st.st_size <= kLargest) {
    bytes.resize(static_cast<qsizetype>(st.st_size));
    qsizetype done = 0;
    while (done < bytes.size()) {
      const ssize_t n = read(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
      if (n <= 0) break;
      done += n;
    }
    if (done != bytes.size()) bytes.clear();
  }
  close(fd);
  return bytes;
}

}  // namespace

QString RegisterTrustedFont(const QString& file) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return {};
  const QByteArray bytes = ReadTrusted(file);
  if (bytes.isEmpty()) return {};
  const QStringList families = QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFontFromData(bytes));
  return families.isEmpty() ? QString() : families.first();
}

QString SubstituteDesignFont() {
  static bool done = false;
  static QString family;
  if (done || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return family;
  done = true;
  family = RegisterTrustedFont(kDesignFontSubstituteFile);
  if (!family.isEmpty()) QFont::insertSubstitution(kDesignFontFamily, family);
  return family;
}
